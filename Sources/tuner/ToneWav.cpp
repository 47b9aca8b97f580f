#include "tuner/ToneWav.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

namespace zivra::tuner {
namespace {

constexpr double twoPi = 6.283185307179586;
constexpr double amplitude = 0.5;
constexpr double fullScale = 32767;
constexpr std::size_t headerSize = 44;

void append(std::vector<std::uint8_t>& bytes, std::string_view text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
}

template <typename T> void appendLittleEndian(std::vector<std::uint8_t>& bytes, T value) {
    auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        bytes.push_back(static_cast<std::uint8_t>(bits & 0xFF));
        bits = static_cast<decltype(bits)>(bits >> 8);
    }
}

} // namespace

std::optional<std::vector<std::uint8_t>> generateToneWAV(double frequency, double duration,
                                                         double sampleRate) {
    constexpr double maximumSamples =
        (static_cast<double>(std::numeric_limits<std::uint32_t>::max()) - 36) / 2;
    if (!std::isfinite(frequency) || !std::isfinite(duration) || !std::isfinite(sampleRate) ||
        !(sampleRate > 0) || !(sampleRate <= std::numeric_limits<std::uint32_t>::max() / 2)) {
        return std::nullopt;
    }
    const double frames = std::trunc(duration * sampleRate);
    if (frames < 0 || frames > maximumSamples) {
        return std::nullopt;
    }
    const auto count = static_cast<std::uint32_t>(frames);
    const auto rate = static_cast<std::uint32_t>(sampleRate);

    std::vector<std::uint8_t> bytes;
    bytes.reserve(headerSize + 2 * static_cast<std::size_t>(count));
    append(bytes, "RIFF");
    appendLittleEndian<std::uint32_t>(bytes, 36 + 2 * count);
    append(bytes, "WAVE");
    append(bytes, "fmt ");
    appendLittleEndian<std::uint32_t>(bytes, 16);
    appendLittleEndian<std::uint16_t>(bytes, 1);
    appendLittleEndian<std::uint16_t>(bytes, 1);
    appendLittleEndian<std::uint32_t>(bytes, rate);
    appendLittleEndian<std::uint32_t>(bytes, rate * 2);
    appendLittleEndian<std::uint16_t>(bytes, 2);
    appendLittleEndian<std::uint16_t>(bytes, 16);
    append(bytes, "data");
    appendLittleEndian<std::uint32_t>(bytes, 2 * count);

    const double increment = frequency * twoPi / sampleRate;
    double phase = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        double value = std::sin(phase) * amplitude * fullScale;
        // Only an absurd frequency can drive the phase past the largest double; it writes
        // silence instead of converting a NaN.
        value = std::isnan(value) ? 0.0 : std::clamp(value, -32768.0, 32767.0);
        appendLittleEndian<std::int16_t>(bytes, static_cast<std::int16_t>(value));
        phase += increment;
        if (phase > twoPi) {
            phase -= twoPi;
        }
    }
    return bytes;
}

} // namespace zivra::tuner
