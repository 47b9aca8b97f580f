#include "audio/CaptureBlock.h"
#include "tests/audio/BlockTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace zivra::audio {

using zivra::platform::sound::AudioBuffer;

namespace {

AudioBuffer bufferOf(std::vector<float>& samples, std::uint32_t channels) {
    return AudioBuffer{channels, static_cast<std::uint32_t>(samples.size() * 4), samples.data()};
}

std::vector<float> ramp(std::size_t count, float start) {
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = start + static_cast<float>(i);
    }
    return samples;
}

TEST(CaptureBlock, MonoIsDuplicatedIntoBothChannels) {
    auto ring = std::make_shared<RingBuffer>(4194304);
    std::vector<float> mono = ramp(512, 1);
    const std::array input{bufferOf(mono, 1)};
    makeCaptureBlock(ring)(input);
    const std::vector<float> frames = storedFrames(*ring);
    ASSERT_EQ(frames.size(), 1024u);
    for (std::size_t i = 0; i < 512; ++i) {
        EXPECT_EQ(frames[2 * i], mono[i]);
        EXPECT_EQ(frames[2 * i + 1], mono[i]);
    }
}

TEST(CaptureBlock, InterleavedMultichannelKeepsTheFirstTwoChannels) {
    RingBuffer ring(4194304);
    std::vector<float> quad = ramp(256 * 4, 0);
    const std::array input{bufferOf(quad, 4)};
    captureIntoRing(ring.buffer(), input);
    const std::vector<float> frames = storedFrames(ring);
    ASSERT_EQ(frames.size(), 512u);
    for (std::size_t i = 0; i < 256; ++i) {
        EXPECT_EQ(frames[2 * i], quad[4 * i]);
        EXPECT_EQ(frames[2 * i + 1], quad[4 * i + 1]);
    }
}

TEST(CaptureBlock, PlanarBuffersGiveLeftAndRight) {
    RingBuffer ring(4194304);
    std::vector<float> left = ramp(64, 0);
    std::vector<float> right = ramp(48, 1000);
    std::vector<float> third = ramp(64, -5);
    const std::array input{bufferOf(left, 1), bufferOf(right, 1), bufferOf(third, 1)};
    captureIntoRing(ring.buffer(), input);
    const std::vector<float> frames = storedFrames(ring);
    ASSERT_EQ(frames.size(), 2u * 48) << "the shorter right channel limits the block";
    for (std::size_t i = 0; i < 48; ++i) {
        EXPECT_EQ(frames[2 * i], left[i]);
        EXPECT_EQ(frames[2 * i + 1], right[i]);
    }
}

TEST(CaptureBlock, UnusableInputWritesNothing) {
    RingBuffer ring(4194304);
    std::vector<float> samples = ramp(64, 0);
    captureIntoRing(ring.buffer(), {});
    const std::array missingRight{bufferOf(samples, 1), AudioBuffer{1, 256, nullptr}};
    captureIntoRing(ring.buffer(), missingRight);
    const std::array noChannels{bufferOf(samples, 0)};
    captureIntoRing(ring.buffer(), noChannels);
    const std::array noData{AudioBuffer{2, 512, nullptr}};
    captureIntoRing(ring.buffer(), noData);
    EXPECT_EQ(MirrorBufferFillCount(&ring.buffer()), 0u);
}

// Channel counts whose byte size per frame does not fit 32 bits: the buffer
// holds less than one frame of them, so nothing is read and nothing written.
TEST(CaptureBlock, ChannelCountBeyondThirtyTwoBitFramesWritesNothing) {
    RingBuffer ring(4194304);
    std::vector<float> samples = ramp(64, 0);
    for (std::uint32_t channels : {0x40000000u, 0x40000001u, 0xFFFFFFFFu}) {
        const std::array input{bufferOf(samples, channels)};
        captureIntoRing(ring.buffer(), input);
        EXPECT_EQ(MirrorBufferFillCount(&ring.buffer()), 0u) << channels;
    }
}

TEST(CaptureBlock, BlockThatDoesNotFitIsDroppedWhole) {
    RingBuffer ring(1);
    const std::uint32_t length = ring.buffer().length;
    storeFrames(ring, std::vector<float>((length - 100) / 4, 0.25f));
    std::vector<float> stereo = ramp(32, 0); // 16 frames, 128 bytes
    const std::array input{bufferOf(stereo, 2)};
    captureIntoRing(ring.buffer(), input);
    EXPECT_EQ(MirrorBufferFillCount(&ring.buffer()), length - 100);
    EXPECT_EQ(ring.buffer().head, length - 100);
}

TEST(CaptureBlock, BlockAcrossTheWrapStaysInOrder) {
    RingBuffer ring(1);
    const std::uint32_t length = ring.buffer().length;
    MirrorBufferProduce(&ring.buffer(), length - 16);
    MirrorBufferConsume(&ring.buffer(), length - 16);
    std::vector<float> stereo = ramp(16, 0); // 8 frames across the wrap
    const std::array input{bufferOf(stereo, 2)};
    captureIntoRing(ring.buffer(), input);
    EXPECT_EQ(storedFrames(ring), stereo);
    EXPECT_EQ(ring.buffer().head, 48u);
}

} // namespace

} // namespace zivra::audio
