#include "audio/CaptureBlock.h"

#include <algorithm>
#include <cstdint>

namespace zivra::audio {

using platform::sound::AudioBuffer;

namespace {

constexpr std::uint32_t frameBytes = 8;

// The ring's room for a whole block of `frames` frames, or null.
float* reserve(MirrorBuffer& ring, std::uint32_t frames) {
    std::uint32_t space = 0;
    void* destination = MirrorBufferGetWritePointer(&ring, &space);
    if (!destination || space < std::uint64_t{frames} * frameBytes) {
        return nullptr;
    }
    return static_cast<float*>(destination);
}

// Left from left[i * stride], right from right[i * stride].
void writeFrames(MirrorBuffer& ring, const float* __restrict left, const float* __restrict right,
                 std::uint32_t stride, std::uint32_t frames) {
    float* __restrict out = reserve(ring, frames);
    if (!out) {
        return;
    }
    for (std::uint32_t i = 0; i < frames; ++i) {
        out[2 * i] = left[i * stride];
        out[2 * i + 1] = right[i * stride];
    }
    MirrorBufferProduce(&ring, frames * frameBytes);
}

} // namespace

void captureIntoRing(MirrorBuffer& ring, std::span<const AudioBuffer> input) {
    if (input.empty()) {
        return;
    }
    if (input.size() == 1) {
        const AudioBuffer& buffer = input[0];
        const std::uint32_t channels = buffer.numberChannels;
        if (channels == 0 || !buffer.data) {
            return;
        }
        const auto* samples = static_cast<const float*>(buffer.data);
        if (channels == 1) {
            writeFrames(ring, samples, samples, 1, buffer.dataByteSize / 4);
        } else {
            // In 64 bits: a channel count from 2^30 on must not wrap to a tiny
            // (or zero) frame size and send the reads past the buffer.
            writeFrames(
                ring, samples, samples + 1, channels,
                static_cast<std::uint32_t>(buffer.dataByteSize / (std::uint64_t{channels} * 4)));
        }
        return;
    }
    const AudioBuffer& left = input[0];
    const AudioBuffer& right = input[1];
    if (!left.data || !right.data) {
        return;
    }
    const std::uint32_t frames = std::min(left.dataByteSize / 4, right.dataByteSize / 4);
    writeFrames(ring, static_cast<const float*>(left.data), static_cast<const float*>(right.data),
                1, frames);
}

platform::sound::CaptureBlock makeCaptureBlock(std::shared_ptr<RingBuffer> ring) {
    return [ring = std::move(ring)](std::span<const AudioBuffer> input) {
        captureIntoRing(ring->buffer(), input);
    };
}

} // namespace zivra::audio
