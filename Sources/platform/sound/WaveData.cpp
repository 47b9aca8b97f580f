#include "platform/sound/WaveData.h"

#include <string_view>

namespace zivra::platform::sound {
namespace {

constexpr std::uint16_t integerPcm = 1;
constexpr std::uint16_t bitsPerSample = 16;

std::uint32_t read32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::uint16_t read16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

bool tagAt(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view tag) {
    for (std::size_t i = 0; i < tag.size(); ++i) {
        if (bytes[at + i] != static_cast<std::uint8_t>(tag[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<WaveData> decodeWave(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 12 || !tagAt(bytes, 0, "RIFF") || !tagAt(bytes, 8, "WAVE")) {
        return std::nullopt;
    }
    std::optional<WaveData> format;
    std::size_t at = 12;
    while (bytes.size() - at >= 8) {
        const std::size_t size = read32(bytes, at + 4);
        const std::size_t body = at + 8;
        const std::size_t available = bytes.size() - body;
        if (tagAt(bytes, at, "fmt ")) {
            if (size < 16 || available < 16) {
                return std::nullopt;
            }
            const std::uint16_t channels = read16(bytes, body + 2);
            const std::uint32_t rate = read32(bytes, body + 4);
            if (read16(bytes, body) != integerPcm || read16(bytes, body + 14) != bitsPerSample ||
                channels == 0 || rate == 0 || read16(bytes, body + 12) != channels * 2) {
                return std::nullopt;
            }
            format = WaveData{rate, channels, {}};
        } else if (tagAt(bytes, at, "data")) {
            if (!format) {
                return std::nullopt;
            }
            const std::size_t frameBytes = 2 * format->channels;
            const std::size_t frames = std::min(size, available) / frameBytes;
            if (frames == 0) {
                return std::nullopt;
            }
            format->samples.resize(frames * format->channels);
            for (std::size_t i = 0; i < format->samples.size(); ++i) {
                format->samples[i] =
                    static_cast<float>(static_cast<std::int16_t>(read16(bytes, body + 2 * i))) /
                    32768.0f;
            }
            return format;
        }
        // Chunks are padded to an even size.
        const std::size_t next = size + (size & 1);
        if (next > available) {
            return std::nullopt;
        }
        at = body + next;
    }
    return std::nullopt;
}

} // namespace zivra::platform::sound
