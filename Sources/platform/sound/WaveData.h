#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zivra::platform::sound {

// The sound of a WAVE file: its rate, its channel count and its frames as interleaved float
// samples in -1...1.
struct WaveData {
    std::uint32_t sampleRate = 0;
    std::uint32_t channels = 0;
    std::vector<float> samples;
};

// Reads a RIFF WAVE file of 16-bit integer PCM: the "fmt " and "data" chunks, skipping any
// other chunk. A data chunk that claims more than the file holds yields the whole frames that
// are there. Empty for any other file, or one without a single frame. Any thread; throws
// nothing but std::bad_alloc.
std::optional<WaveData> decodeWave(std::span<const std::uint8_t> bytes);

} // namespace zivra::platform::sound
