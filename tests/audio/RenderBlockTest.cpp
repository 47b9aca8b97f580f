#include "audio/RenderBlock.h"
#include "tests/audio/BlockTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

namespace zivra::audio {

using zivra::platform::sound::AudioBuffer;

namespace {

struct Output {
    explicit Output(std::uint32_t frames) : left(frames, 9.0f), right(frames, 9.0f) {}
    std::vector<float> left;
    std::vector<float> right;
    std::array<AudioBuffer, 2> buffers() {
        const auto bytes = static_cast<std::uint32_t>(left.size() * 4);
        return {AudioBuffer{1, bytes, left.data()}, AudioBuffer{1, bytes, right.data()}};
    }
};

class RenderBlockTest : public ::testing::Test {
protected:
    bool render(Output& out) {
        bool silence = false;
        auto buffers = out.buffers();
        renderFromRing(ring.buffer(), parameters, silence,
                       static_cast<std::uint32_t>(out.left.size()), buffers, level, watch,
                       counters);
        return silence;
    }
    // Renders one frame (l, r) with the given blend pair.
    std::pair<float, float> one(float l, float r, float mono, float karaoke, bool dual = false) {
        parameters.setBlend(mono, karaoke);
        parameters.setDualMonoOutput(dual);
        storeFrames(ring, {l, r});
        Output out(1);
        EXPECT_FALSE(render(out));
        return {out.left[0], out.right[0]};
    }
    RingBuffer ring{4194304};
    AudioParameters parameters;
    RingLevel level{0, UINT32_MAX, 0}; // never trims unless a test says so
    RingLevelWatch watch;
    RenderCounters counters;
};

TEST_F(RenderBlockTest, TooFewFramesGiveSilenceAndConsumeNothing) {
    storeFrames(ring, std::vector<float>(511 * 2, 0.5f));
    Output out(512);
    EXPECT_TRUE(render(out));
    EXPECT_EQ(out.left, std::vector<float>(512, 0.0f));
    EXPECT_EQ(out.right, std::vector<float>(512, 0.0f));
    EXPECT_EQ(MirrorBufferFillCount(&ring.buffer()), 511u * 8);

    storeFrames(ring, std::vector<float>(513 * 2, 0.5f));
    EXPECT_FALSE(render(out));
    EXPECT_EQ(MirrorBufferFillCount(&ring.buffer()), 512u * 8);
    EXPECT_EQ(out.left, std::vector<float>(512, 0.5f));
}

TEST_F(RenderBlockTest, OffPassesInputThroughExactly) {
    std::vector<float> frames(2 * 301);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    for (float& f : frames) {
        f = sample(random);
    }
    storeFrames(ring, frames);
    Output out(301);
    EXPECT_FALSE(render(out));
    for (std::size_t i = 0; i < 301; ++i) {
        EXPECT_EQ(out.left[i], frames[2 * i]);
        EXPECT_EQ(out.right[i], frames[2 * i + 1]);
    }
}

TEST_F(RenderBlockTest, WorkedBlendValues) {
    const float l = 0.5f, r = 0.1f, s = (l - r) * 0.5f;
    EXPECT_EQ(one(l, r, 1, 0), std::make_pair(0.2f, 0.2f));           // Mono
    EXPECT_EQ(one(l, r, 0, 1), std::make_pair(s, -s));                // Karaoke
    EXPECT_EQ(one(l, r, 0, 1, true), std::make_pair(s, s));           // Karaoke, dual mono
    EXPECT_EQ(one(l, r, 0.25f, 0.75f), std::make_pair(s, -0.5f * s)); // Wide
    const auto aggressive = one(l, r, 0.2f, 1.0f);
    EXPECT_FLOAT_EQ(aggressive.first, s);
    EXPECT_FLOAT_EQ(aggressive.second, (-0.8f / 1.2f) * s);
    EXPECT_EQ(one(l, r, 1, 1), std::make_pair(s, 0.0f));    // sum 2 scales by 0.5
    EXPECT_EQ(one(l, r, 0, 0, true), std::make_pair(l, l)); // pass-through, dual mono
}

TEST_F(RenderBlockTest, VolumeScalesBothChannelsAfterTheBlend) {
    parameters.setVolume(0.5f);
    const auto [left, right] = one(0.5f, 0.1f, 0, 0);
    EXPECT_EQ(left, 0.25f);
    EXPECT_EQ(right, 0.05f);
}

TEST_F(RenderBlockTest, VolumeZeroOutputsZerosAndStillConsumes) {
    parameters.setVolume(0);
    storeFrames(ring, std::vector<float>(2 * 64, 0.7f));
    Output out(64);
    EXPECT_FALSE(render(out));
    EXPECT_EQ(out.left, std::vector<float>(64, 0.0f));
    EXPECT_EQ(out.right, std::vector<float>(64, 0.0f));
    EXPECT_EQ(MirrorBufferFillCount(&ring.buffer()), 0u);
}

TEST_F(RenderBlockTest, OneOutputBufferIsAlwaysSilent) {
    storeFrames(ring, std::vector<float>(2 * 1024, 0.7f));
    std::vector<float> only(256, 3.0f);
    std::array buffers{AudioBuffer{1, 256 * 4, only.data()}};
    bool silence = false;
    renderFromRing(ring.buffer(), parameters, silence, 256, buffers, level, watch, counters);
    EXPECT_TRUE(silence);
    EXPECT_EQ(only, std::vector<float>(256, 0.0f));
    EXPECT_EQ(MirrorBufferFillCount(&ring.buffer()), 2u * 1024 * 4);
}

TEST_F(RenderBlockTest, MissingChannelDataIsSilent) {
    storeFrames(ring, std::vector<float>(2 * 16, 0.7f));
    std::vector<float> left(16, 3.0f);
    std::array buffers{AudioBuffer{1, 64, left.data()}, AudioBuffer{1, 64, nullptr}};
    bool silence = false;
    renderFromRing(ring.buffer(), parameters, silence, 16, buffers, level, watch, counters);
    EXPECT_TRUE(silence);
    EXPECT_EQ(left, std::vector<float>(16, 0.0f));
}

// The block loops over many frames at once; every frame must come out as the
// one-frame steps compute it, for every frame count remainder.
TEST_F(RenderBlockTest, BlockResultsEqualFrameByFrameResults) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    for (const auto& [mono, karaoke, dual] :
         {std::tuple{0.0f, 0.0f, false}, std::tuple{0.25f, 0.75f, false},
          std::tuple{0.2f, 1.0f, true}, std::tuple{0.37f, 0.41f, false}}) {
        parameters.setBlend(mono, karaoke);
        parameters.setDualMonoOutput(dual);
        parameters.setVolume(0.8f);
        for (std::uint32_t frames : {1u, 3u, 4u, 7u, 1023u}) {
            std::vector<float> input(2 * frames);
            for (float& f : input) {
                f = sample(random);
            }
            storeFrames(ring, input);
            Output block(frames);
            EXPECT_FALSE(render(block));
            for (std::uint32_t i = 0; i < frames; ++i) {
                storeFrames(ring, {input[2 * i], input[2 * i + 1]});
                Output single(1);
                EXPECT_FALSE(render(single));
                ASSERT_EQ(block.left[i], single.left[0]) << frames << " frames, frame " << i;
                ASSERT_EQ(block.right[i], single.right[0]) << frames << " frames, frame " << i;
            }
        }
    }
}

} // namespace

// A stereo ramp whose frame k holds (k, -k) / 1000: every frame tells where
// in the ring it came from.
std::vector<float> ramp(std::uint32_t frames) {
    std::vector<float> samples(2 * std::size_t{frames});
    for (std::uint32_t k = 0; k < frames; ++k) {
        samples[2 * k] = static_cast<float>(k) / 1000.0f;
        samples[2 * k + 1] = -static_cast<float>(k) / 1000.0f;
    }
    return samples;
}

TEST_F(RenderBlockTest, RingLevelFollowsTheSampleRate) {
    const RingLevel at48k = RingLevel::forSampleRate(48000);
    EXPECT_EQ(at48k.keepFrames, 360u);
    EXPECT_EQ(at48k.limitFrames, 456u);
    EXPECT_EQ(at48k.windowFrames, 9600u);
    EXPECT_EQ(at48k.maxRaiseFrames, 1440u);
    const RingLevel at44k = RingLevel::forSampleRate(44100);
    EXPECT_EQ(at44k.keepFrames, 331u);
    EXPECT_EQ(at44k.limitFrames, 419u);
}

TEST_F(RenderBlockTest, SurplusUpToTheLimitIsKept) {
    level = RingLevel{240, 480, 256};
    storeFrames(ring, ramp(256 + 480));
    Output out(256);
    EXPECT_FALSE(render(out));
    EXPECT_EQ(counters.trims.load(), 0u);
    EXPECT_EQ(MirrorBufferFillCount(&ring.buffer()), 480u * 8);
    EXPECT_FLOAT_EQ(out.left[0], 0.0f);
    EXPECT_FLOAT_EQ(out.left[255], 0.255f);
}

TEST_F(RenderBlockTest, BacklogIsDroppedWithACrossfadeAtTheEndOfAWindow) {
    level = RingLevel{240, 480, 512};
    const std::uint32_t stored = 2 * 256 + 481 + 1000;
    storeFrames(ring, ramp(stored));
    Output out(256);
    EXPECT_FALSE(render(out));
    EXPECT_EQ(counters.trims.load(), 0u); // the window is not over yet
    EXPECT_FALSE(render(out));
    EXPECT_EQ(counters.trims.load(), 1u);
    // What is left is the surplus kept for jitter.
    EXPECT_EQ(MirrorBufferFillCount(&ring.buffer()), 240u * 8);
    const std::uint32_t dropped = stored - 2 * 256 - 240;
    // The crossfade starts on the frame that was due and ends on the frame
    // after the dropped ones, moving monotonically in between: no jump.
    EXPECT_NEAR(out.left[0], 0.256f, 0.02f);
    for (std::uint32_t i = 1; i < trimCrossfadeFrames; ++i) {
        EXPECT_GT(out.left[i], out.left[i - 1]) << i;
        EXPECT_FLOAT_EQ(out.right[i], -out.left[i]) << i;
    }
    for (std::uint32_t i = trimCrossfadeFrames; i < 256; ++i) {
        ASSERT_FLOAT_EQ(out.left[i], static_cast<float>(256 + dropped + i) / 1000.0f) << i;
    }
    // The next request continues right after the last frame played.
    Output next(240);
    EXPECT_FALSE(render(next));
    EXPECT_FLOAT_EQ(next.left[0], static_cast<float>(2 * 256 + dropped) / 1000.0f);
}

// One render cycle may pull several blocks at once (the time-pitch stage
// filling up): a surplus that a later pull of the window needs is no backlog.
TEST_F(RenderBlockTest, SurplusThatAPullOfTheWindowNeededIsKept) {
    level = RingLevel{240, 480, 1024};
    storeFrames(ring, ramp(512 + 100));
    Output out(512);
    EXPECT_FALSE(render(out));
    storeFrames(ring, ramp(2000));
    EXPECT_FALSE(render(out)); // the window ends with 1,588 spare, but 100 was its lowest
    EXPECT_EQ(counters.trims.load(), 0u);
    EXPECT_EQ(MirrorBufferFillCount(&ring.buffer()), 1588u * 8);
}

TEST_F(RenderBlockTest, UnderrunsAreCountedAndLoseNothing) {
    level = RingLevel{240, 480, 256};
    storeFrames(ring, ramp(100));
    Output out(256);
    EXPECT_TRUE(render(out));
    EXPECT_TRUE(render(out));
    EXPECT_EQ(counters.underruns.load(), 2u);
    EXPECT_EQ(MirrorBufferFillCount(&ring.buffer()), 100u * 8);
}

// A machine whose jitter ran the ring dry gets more room: the surplus kept
// after a drop grows with each underrun and shrinks again while none comes.
TEST_F(RenderBlockTest, UnderrunsRaiseTheKeptSurplusForAWhile) {
    level = RingLevel{240, 480, 256, 720};
    Output out(256);
    storeFrames(ring, ramp(100));
    EXPECT_TRUE(render(out)); // underrun
    EXPECT_TRUE(render(out)); // another in the same window raises no further
    storeFrames(ring, ramp(156 + 600));
    EXPECT_FALSE(render(out)); // the window saw underruns: nothing dropped, raise 240
    storeFrames(ring, ramp(256));
    EXPECT_FALSE(render(out)); // 600 spare, within the raised limit of 720
    EXPECT_EQ(counters.trims.load(), 0u);

    storeFrames(ring, ramp(2000));
    EXPECT_FALSE(render(out)); // a backlog: dropped down to the raised keep, less 240 / 16
    EXPECT_EQ(counters.trims.load(), 1u);
    EXPECT_EQ(MirrorBufferFillCount(&ring.buffer()), (240u + 240 - 15) * 8);
}

// Underruns that a backlog follows at once come from a stall of both sides,
// not from jitter: the delay goes back to where it was before.
TEST_F(RenderBlockTest, UnderrunsOfAStallDoNotRaiseTheKeptSurplus) {
    level = RingLevel{240, 480, 256, 720};
    Output out(256);
    EXPECT_TRUE(render(out));
    storeFrames(ring, ramp(256 + 5000));
    EXPECT_FALSE(render(out)); // the underrun window: raise 240
    EXPECT_FALSE(render(out)); // the backlog right after: raise undone, dropped to keep
    EXPECT_EQ(counters.trims.load(), 1u);
    EXPECT_EQ(MirrorBufferFillCount(&ring.buffer()), 240u * 8);
}

} // namespace zivra::audio
