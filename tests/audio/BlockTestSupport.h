#pragma once

#include "audio/RingBuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace zivra::audio {

// Stores interleaved stereo frames in the ring.
inline void storeFrames(RingBuffer& ring, const std::vector<float>& interleaved) {
    const auto size = static_cast<std::uint32_t>(interleaved.size() * sizeof(float));
    std::uint32_t space = 0;
    void* out = MirrorBufferGetWritePointer(&ring.buffer(), &space);
    ASSERT_NE(out, nullptr);
    ASSERT_GE(space, size);
    std::memcpy(out, interleaved.data(), size);
    MirrorBufferProduce(&ring.buffer(), size);
}

// The interleaved frames stored in the ring, left in place.
inline std::vector<float> storedFrames(RingBuffer& ring) {
    std::uint32_t available = 0;
    const void* in = MirrorBufferGetReadPointer(&ring.buffer(), &available);
    std::vector<float> frames(available / sizeof(float));
    if (in) {
        std::memcpy(frames.data(), in, available);
    }
    return frames;
}

} // namespace zivra::audio
