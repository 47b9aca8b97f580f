#pragma once

#include <QString>

#include <array>
#include <cstddef>
#include <optional>

namespace zivra::audio {

// The case among `all` whose raw string is exactly `raw`. Any thread; returns a
// value; throws nothing.
template <typename Mode, std::size_t N>
std::optional<Mode> modeFromRaw(const std::array<Mode, N>& all, const QString& raw) {
    for (Mode mode : all) {
        if (rawValue(mode) == raw) {
            return mode;
        }
    }
    return std::nullopt;
}

} // namespace zivra::audio
