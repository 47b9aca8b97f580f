#pragma once

#include <cstdint>

// A list of raw sample buffers as a device callback hands them over: one
// interleaved buffer (numberChannels samples per frame) or one buffer per
// channel. data may be null; dataByteSize counts bytes of 32-bit floats.
struct AudioBuffer {
    std::uint32_t numberChannels = 0;
    std::uint32_t dataByteSize = 0;
    void* data = nullptr;
};

struct AudioBufferList {
    std::uint32_t numberBuffers = 0;
    AudioBuffer* buffers = nullptr;
};
