#pragma once

#include <QString>

#include <array>
#include <optional>

namespace zivra::audio {

// Vocal removal settings, each standing for a pair of blend weights. The raw
// strings are the stored and transmitted form. The functions below run on any
// thread, return values, and throw nothing.
enum class VocalRemovalMode { off, mono, wide, karaoke, aggressive, custom };

inline constexpr std::array<VocalRemovalMode, 6> allVocalRemovalModes = {
    VocalRemovalMode::off,     VocalRemovalMode::mono,       VocalRemovalMode::wide,
    VocalRemovalMode::karaoke, VocalRemovalMode::aggressive, VocalRemovalMode::custom};

QString rawValue(VocalRemovalMode mode);
// Exact, case-sensitive match of a raw string; nothing for any other text.
std::optional<VocalRemovalMode> vocalRemovalModeFromRaw(const QString& raw);

} // namespace zivra::audio
