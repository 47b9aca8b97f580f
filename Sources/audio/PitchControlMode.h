#pragma once

#include <QString>

#include <array>
#include <optional>

namespace zivra::audio {

// How the popover's pitch controls step: whole semitones or ten-cent steps.
// The raw strings are the stored and transmitted form. The functions below run
// on any thread, return values, and throw nothing.
enum class PitchControlMode { semitones, cents };

inline constexpr std::array<PitchControlMode, 2> allPitchControlModes = {
    PitchControlMode::semitones, PitchControlMode::cents};

QString rawValue(PitchControlMode mode);
// Exact, case-sensitive match of a raw string; nothing for any other text.
std::optional<PitchControlMode> pitchControlModeFromRaw(const QString& raw);

} // namespace zivra::audio
