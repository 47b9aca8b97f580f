#pragma once

#include <cstdint>

namespace zivra::platform::sound {

// One buffer of a buffer list as the audio callbacks see it: interleaved
// 32-bit float samples, numberChannels per frame, dataByteSize bytes at data.
// A null data pointer means the buffer carries nothing this cycle. The
// samples belong to the caller of the callback and are valid only during it.
struct AudioBuffer {
    std::uint32_t numberChannels = 0;
    std::uint32_t dataByteSize = 0;
    void* data = nullptr;
};

// A block of non-interleaved float channels handed to a mixer tap. The
// pointers are valid only for the duration of the tap callback.
struct PcmBufferView {
    const float* const* channels = nullptr;
    std::uint32_t channelCount = 0;
    std::uint32_t frameLength = 0;
    double sampleRate = 0;
};

// Sample rate and channel count of a stream, a tap or a sink. These records
// are plain values: any thread, nothing throws.
struct StreamFormat {
    double sampleRate = 0;
    std::uint32_t channels = 0;
};

} // namespace zivra::platform::sound
