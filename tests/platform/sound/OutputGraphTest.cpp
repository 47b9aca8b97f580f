// The playback graph against the private test server: where it plays, what
// the time-pitch stage and the volume do to it, and its mixer tap.
#include "platform/sound/SoundError.h"
#include "platform/sound/SoundServer.h"
#include "tests/platform/sound/support/Scheduling.h"
#include "tests/platform/sound/support/SoundServerTools.h"
#include "tests/platform/sound/support/TestApplication.h"
#include "tests/platform/sound/support/ToneAnalysis.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <numbers>

namespace zivra::platform::sound {

using namespace std::chrono_literals;

namespace {

// A render block playing a sine of the given frequency on both channels.
RenderBlock sineSource(double frequency) {
    return [frequency, phase = 0.0](bool& silence, std::uint32_t frames,
                                    std::span<AudioBuffer> output) mutable {
        auto* left = static_cast<float*>(output[0].data);
        auto* right = static_cast<float*>(output[1].data);
        for (std::uint32_t i = 0; i < frames; ++i) {
            left[i] = right[i] = static_cast<float>(0.3 * std::sin(phase));
            phase += 2 * std::numbers::pi * frequency / testRate;
        }
        phase = std::fmod(phase, 2 * std::numbers::pi);
        silence = false;
    };
}

class OutputGraphTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApplication(); }

    std::unique_ptr<OutputGraph> graphOn(const QString& sink, double frequency) {
        auto graph = server->createOutputGraph({testRate, 2});
        graph->setSource(sineSource(frequency));
        EXPECT_EQ(graph->setOutputDevice(*sinkIndex(sink)), 0);
        return graph;
    }

    std::shared_ptr<SoundServer> server = createSoundServer();
};

TEST_F(OutputGraphTest, RefusesAFormatItCannotPlay) {
    for (const StreamFormat format :
         {StreamFormat{0, 2}, StreamFormat{std::nan(""), 2}, StreamFormat{-48000, 2},
          StreamFormat{1e12, 2}, StreamFormat{testRate, 1}}) {
        EXPECT_THROW(server->createOutputGraph(format), SoundError)
            << format.sampleRate << " Hz, " << format.channels << " channels";
    }
}

TEST_F(OutputGraphTest, PlaysOnTheChosenSinkAndStaysThere) {
    auto graph = graphOn("headphones", 1000);
    graph->setBypass(true);
    graph->start();

    const auto heard = mid(tail(record("headphones.monitor", 1500ms), 24000));
    EXPECT_GT(levelDb(heard, testRate, 1000), -20);
    EXPECT_LT(rmsDb(record("speakers.monitor", 500ms)), -90);

    // The tap takes every foreign stream, but never Zivra's own output.
    auto tap = server->createTap({"Zivra Tap", std::nullopt});
    const auto ours = [] {
        for (const auto& input : sinkInputs()) {
            if (input.processId == getpid()) {
                return std::optional(input.sink);
            }
        }
        return std::optional<std::uint32_t>();
    };
    EXPECT_FALSE(waitUntil([&] { return ours() != sinkIndex("headphones"); }, 500ms));

    graph->stop();
    EXPECT_TRUE(waitUntil([&] { return !ours().has_value(); }));
}

TEST_F(OutputGraphTest, ShiftsThePitchByCents) {
    auto graph = graphOn("speakers", 440);
    graph->setPitch(1200);
    graph->setBypass(false);
    graph->start();
    auto heard = mid(tail(record("speakers.monitor", 1500ms), 48000));
    EXPECT_NEAR(centsBetween(peakFrequency(heard, testRate, 800, 960), 880), 0, 5);
    EXPECT_LT(levelDb(heard, testRate, 440), levelDb(heard, testRate, 880) - 40);

    // A new pitch is taken over by the running graph.
    graph->setPitch(-500);
    const double expected = 440 * std::exp2(-500.0 / 1200);
    ASSERT_TRUE(waitUntil([&] {
        heard = mid(tail(record("speakers.monitor", 1000ms), 24000));
        return std::abs(centsBetween(peakFrequency(heard, testRate, 300, 360), expected)) < 5;
    }));

    // Bypassed, the source plays unchanged.
    graph->setBypass(true);
    ASSERT_TRUE(waitUntil([&] {
        heard = mid(tail(record("speakers.monitor", 1000ms), 24000));
        return std::abs(centsBetween(peakFrequency(heard, testRate, 400, 480), 440)) < 5;
    }));
}

TEST_F(OutputGraphTest, AppliesTheMainMixerVolume) {
    auto graph = graphOn("speakers", 1000);
    graph->setBypass(true);
    graph->setVolume(0);
    EXPECT_EQ(graph->volume(), 0);
    graph->start();
    EXPECT_LT(rmsDb(record("speakers.monitor", 1000ms)), -90);

    graph->setVolume(0.5f);
    // 0.3 x 0.5 = 0.15: about -16.5 dB. Taken again while a busy machine
    // drops a run of the recording, which reads as a lower level.
    const double expected = 20 * std::log10(0.15);
    double level = 0;
    EXPECT_TRUE(waitUntil([&] {
        level = levelDb(mid(tail(record("speakers.monitor", 1000ms), 24000)), testRate, 1000);
        return std::abs(level - expected) < 1.0;
    })) << level;
}

TEST_F(OutputGraphTest, TapGetsMixerBlocksOnItsOwnThread) {
    auto graph = graphOn("speakers", 1000);
    graph->setBypass(true);
    ASSERT_EQ(graph->streamMixerChannelCount(), 2u);

    std::atomic<int> blocks{0};
    std::atomic<bool> wrongShape{false};
    std::vector<float> firstBlock;
    char threadName[16] = {};
    graph->installTap(1024, [&](const PcmBufferView& buffer) {
        if (buffer.frameLength != 1024 || buffer.channelCount != 2 ||
            buffer.sampleRate != testRate) {
            wrongShape = true;
        }
        if (blocks == 20) {
            firstBlock.assign(buffer.channels[0], buffer.channels[0] + buffer.frameLength);
            pthread_getname_np(pthread_self(), threadName, sizeof threadName);
        }
        ++blocks;
    });
    graph->start();
    ASSERT_TRUE(waitUntil([&] { return blocks > 21; }));
    graph->removeTap();
    const int seen = blocks;

    EXPECT_FALSE(wrongShape);
    EXPECT_STREQ(threadName, "zivra.tap");
    EXPECT_GT(levelDb(firstBlock, testRate, 1000), -15);
    EXPECT_FALSE(waitUntil([&] { return blocks != seen; }, 300ms));
}

TEST_F(OutputGraphTest, RendersAndTapsInRealTime) {
    if (!mayScheduleInRealTime()) {
        GTEST_SKIP() << "this process may not schedule threads in real time";
    }
    auto graph = server->createOutputGraph({testRate, 2});
    std::atomic<Scheduling> render, tap;
    graph->setSource([&render](bool& silence, std::uint32_t, std::span<AudioBuffer>) {
        render = currentScheduling();
        silence = true;
    });
    graph->installTap(1024, [&tap](const PcmBufferView&) { tap = currentScheduling(); });
    graph->start();
    ASSERT_TRUE(waitUntil([&] { return render.load().policy >= 0 && tap.load().policy >= 0; }));

    // Below the sound server's own threads, and children forked from them do
    // not inherit it.
    EXPECT_EQ(render.load().policy, SCHED_FIFO | SCHED_RESET_ON_FORK);
    EXPECT_EQ(tap.load().policy, SCHED_FIFO | SCHED_RESET_ON_FORK);
    EXPECT_GT(render.load().priority, tap.load().priority);
    EXPECT_GE(tap.load().priority, 1);
    EXPECT_LT(render.load().priority, 5);
    EXPECT_EQ(currentScheduling().policy, SCHED_OTHER);
}

} // namespace

} // namespace zivra::platform::sound
