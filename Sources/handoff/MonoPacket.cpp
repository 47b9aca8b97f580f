#include "handoff/MonoPacket.h"

#include <algorithm>
#include <cmath>

namespace zivra::handoff {

float monoOf(float left, float right) {
    const float a = std::fabs(left);
    const float b = std::fabs(right);
    const float peak = std::max(a, b);
    if (peak > 0 && std::fabs(left + right) < 0.05f * peak) {
        return b <= a ? left : right;
    }
    return (left + right) * 0.5f;
}

std::int16_t pcm16Of(float sample) {
    const float value = sample * 32767.0f;
    if (std::isnan(value) || value >= 32767.0f) {
        return 32767;
    }
    if (value <= -32768.0f) {
        return -32768;
    }
    return static_cast<std::int16_t>(value);
}

void mixToMonoPcm16(const float* interleaved, std::uint32_t frames, std::uint32_t channels,
                    std::uint8_t* out) {
    if (channels == 0) {
        return;
    }
    for (std::uint32_t i = 0; i < frames; ++i) {
        const float* frame = interleaved + static_cast<std::size_t>(i) * channels;
        const float mono = channels == 1 ? frame[0] : monoOf(frame[0], frame[1]);
        const auto value = static_cast<std::uint16_t>(pcm16Of(mono));
        out[2 * static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value & 0xFF);
        out[2 * static_cast<std::size_t>(i) + 1] = static_cast<std::uint8_t>(value >> 8);
    }
}

} // namespace zivra::handoff
