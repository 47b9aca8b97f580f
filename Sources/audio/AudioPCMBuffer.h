#pragma once

#include <cstdint>

// One buffer of 32-bit float audio as the stream mixer's tap delivers it.
// Planar: channelData[c] points at frameLength samples of channel c.
// Interleaved: channelData[0] points at frameLength * channelCount samples.
// channelData is null when the buffer carries no float data.
struct AudioPCMBuffer {
    const float* const* channelData = nullptr;
    std::uint32_t channelCount = 0;
    std::uint32_t frameLength = 0;
    double sampleRate = 0;
    bool interleaved = false;
};
