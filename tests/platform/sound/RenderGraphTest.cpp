// The render graph without a sound server: time-pitch, bypass, volume, the
// pace of a stream's requests and the hand-over to the tap thread.
#include "platform/sound/RenderGraph.h"
#include "tests/platform/sound/support/Scheduling.h"
#include "tests/platform/sound/support/ToneAnalysis.h"

#include <gtest/gtest.h>

#include <QString>

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <mutex>
#include <numbers>
#include <thread>

namespace zivra::platform::sound {

namespace {

constexpr double rate = 48000;

// A source whose left channel counts frames (0, 1, 2, ...) scaled down and
// whose right channel is a sine of the given frequency.
struct TestSource {
    double frequency = 440;
    std::uint64_t frame = 0;
    int calls = 0;

    RenderBlock block() {
        return [this](bool& silence, std::uint32_t frames, std::span<AudioBuffer> output) {
            ++calls;
            auto* left = static_cast<float*>(output[0].data);
            auto* right = static_cast<float*>(output[1].data);
            for (std::uint32_t i = 0; i < frames; ++i, ++frame) {
                left[i] = static_cast<float>(frame % 1000000) * 1e-6f;
                right[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * frequency *
                                                             static_cast<double>(frame) / rate));
            }
            silence = false;
        };
    }
};

std::vector<float> renderSeconds(RenderGraph& graph, double seconds, std::uint32_t chunk = 441) {
    std::vector<float> out(static_cast<std::size_t>(rate * seconds) * 2);
    for (std::size_t done = 0; done < out.size() / 2;) {
        const auto n =
            static_cast<std::uint32_t>(std::min<std::size_t>(chunk, out.size() / 2 - done));
        graph.render(out.data() + done * 2, n);
        done += n;
    }
    return out;
}

TEST(RenderGraphTest, BypassPassesTheSourceThroughUntouched) {
    RenderGraph graph(rate);
    TestSource source;
    graph.setSource(source.block());
    graph.timePitch().setPitch(700); // ignored while bypassed
    graph.timePitch().setBypass(true);
    const auto out = renderSeconds(graph, 0.5, 1500);
    for (std::size_t i = 0; i < out.size() / 2; ++i) {
        ASSERT_EQ(out[2 * i], static_cast<float>(i % 1000000) * 1e-6f) << i;
        ASSERT_EQ(out[2 * i + 1], static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 440 *
                                                                    static_cast<double>(i) / rate)))
            << i;
    }
    // Blocks of at most 512 frames: 1500 frames are pulled as 512 + 512 + 476.
    EXPECT_EQ(source.calls, 16 * 3);
}

TEST(RenderGraphTest, ShiftsByTheCentsGiven) {
    for (const float cents : {1200.0f, -500.0f, 100.0f}) {
        RenderGraph graph(rate);
        TestSource source;
        graph.setSource(source.block());
        graph.timePitch().setBypass(false);
        graph.timePitch().setPitch(cents);
        const auto out = channel(renderSeconds(graph, 2), 1);
        const double expected = 440 * std::exp2(cents / 1200.0);
        const auto steady = tail(out, 48000);
        EXPECT_NEAR(
            centsBetween(peakFrequency(steady, rate, expected * 0.9, expected * 1.1), expected), 0,
            5)
            << cents;
        EXPECT_LT(levelDb(steady, rate, 440), levelDb(steady, rate, expected) - 40) << cents;
        // Pitch, not speed: the source is pulled at the rate it is played.
        EXPECT_NEAR(static_cast<double>(source.frame), 2 * rate, 16 * 1024) << cents;
    }
}

TEST(RenderGraphTest, ShiftingResumesAfterABypassWithoutSoundFromBeforeIt) {
    RenderGraph graph(rate);
    TestSource source;
    graph.setSource(source.block());
    graph.timePitch().setPitch(1200);
    graph.timePitch().setBypass(false);
    renderSeconds(graph, 1); // 440 Hz shifted to 880 Hz
    graph.timePitch().setBypass(true);
    renderSeconds(graph, 0.5);

    source.frequency = 1000;
    graph.timePitch().setBypass(false);
    const auto resumed = channel(renderSeconds(graph, 0.5), 1);
    const std::vector<float> start(resumed.begin(), resumed.begin() + 4096);
    EXPECT_LT(levelDb(start, rate, 880), levelDb(start, rate, 2000) - 30)
        << "the 880 Hz from before the bypass came out again";
    EXPECT_NEAR(centsBetween(peakFrequency(tail(resumed, 8192), rate, 1800, 2200), 2000), 0, 5);
}

TEST(RenderGraphTest, PitchBeyondTwoOctavesIsLimitedAndNonsenseIgnored) {
    EXPECT_DOUBLE_EQ(TimePitchStage::ratioForCents(1200), 2.0);
    EXPECT_DOUBLE_EQ(TimePitchStage::ratioForCents(-1200), 0.5);
    EXPECT_DOUBLE_EQ(TimePitchStage::ratioForCents(100000), 4.0);
    EXPECT_DOUBLE_EQ(TimePitchStage::ratioForCents(-100000), 0.25);
    EXPECT_DOUBLE_EQ(TimePitchStage::ratioForCents(std::nanf("")), 1.0);
    EXPECT_DOUBLE_EQ(TimePitchStage::ratioForCents(INFINITY), 1.0);
}

TEST(RenderGraphTest, VolumeScalesTheOutputAndNotTheTap) {
    RenderGraph graph(rate);
    TestSource source;
    graph.setSource(source.block());
    graph.timePitch().setBypass(true);
    graph.setVolume(0.25f);

    std::mutex mutex;
    std::vector<float> tapped;
    graph.tap().install(1024, [&](const PcmBufferView& buffer) {
        std::lock_guard lock(mutex);
        if (tapped.empty()) {
            tapped.assign(buffer.channels[1], buffer.channels[1] + buffer.frameLength);
        }
    });
    const auto out = renderSeconds(graph, 0.1);
    // The tap thread takes its block in its own time.
    for (bool done = false; !done; std::this_thread::yield()) {
        std::lock_guard lock(mutex);
        done = !tapped.empty();
    }
    graph.tap().remove();

    EXPECT_NEAR(levelDb(channel(out, 1), rate, 440), 20 * std::log10(0.125), 0.5);
    ASSERT_EQ(tapped.size(), 1024u);
    EXPECT_NEAR(levelDb(tapped, rate, 440), 20 * std::log10(0.5), 0.5);
}

// After a stall the server asks for seconds at once: the graph renders what
// the clock allows and answers the rest with silence, and a request at the
// pace of playback is rendered whole, as render() renders it, also where the
// server forces a quantum of 8192 frames and asks for all of it a little
// early or late.
TEST(RenderGraphTest, RendersNoFasterThanTheClockAllows) {
    using namespace std::chrono_literals;
    RenderGraph paced(rate), plain(rate);
    TestSource source, reference;
    paced.setSource(source.block());
    plain.setSource(reference.block());
    for (RenderGraph* graph : {&paced, &plain}) {
        graph->timePitch().setPitch(300);
        graph->timePitch().setBypass(false);
    }
    auto now = RenderPace::Clock::now();
    constexpr std::uint32_t buffer = 720; // 15 ms
    std::vector<float> out(480 * 2), expected(out.size());
    for (int request = 0; request < 400; ++request, now += 10ms) {
        paced.renderPaced(out.data(), 480, now, buffer);
        plain.render(expected.data(), 480);
        ASSERT_EQ(out, expected) << request;
    }
    constexpr std::uint32_t quantum = 8192;
    out.resize(quantum * 2);
    expected.resize(out.size());
    for (int request = 0; request < 60; ++request) {
        now += request % 2 ? 181ms : 160ms; // 170.7 ms on average
        paced.renderPaced(out.data(), quantum, now, quantum + 512);
        plain.render(expected.data(), quantum);
        ASSERT_EQ(out, expected) << "quantum " << request;
    }

    const std::uint64_t before = source.frame;
    std::vector<float> stalled(static_cast<std::size_t>(5 * rate) * 2, 1.0f);
    paced.renderPaced(stalled.data(), static_cast<std::uint32_t>(5 * rate), now + 5s, buffer);
    const auto reserve = static_cast<std::size_t>(rate * RenderPace::reserveSeconds) + buffer;
    EXPECT_LE(source.frame - before, reserve + TimePitchStage::fifoFrames);
    const std::vector<float> rendered(stalled.begin(), stalled.begin() + reserve * 2);
    EXPECT_GT(levelDb(channel(rendered, 1), rate, 440 * std::exp2(0.25)), -20);
    EXPECT_TRUE(std::all_of(stalled.begin() + reserve * 2, stalled.end(),
                            [](float sample) { return sample == 0.0f; }));
}

// The tap thread runs in real time: one that never sleeps is taken back to
// normal scheduling at the soft limit, and the process lives on.
TEST(RenderGraphTest, ATapThreadThatNeverSleepsLeavesRealTimeAndTheProcessLives) {
    using namespace std::chrono_literals;
    if (!mayScheduleInRealTime()) {
        GTEST_SKIP() << "this process may not schedule threads in real time";
    }
    static std::atomic<int> warnings{0};
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtWarningMsg && text.contains("normal priority")) {
            ++warnings;
        }
    });
    RenderGraph graph(rate);
    TestSource source;
    graph.setSource(source.block());
    graph.timePitch().setBypass(true);
    std::atomic<int> spun{-1}, after{-1};
    graph.tap().install(1024, [&](const PcmBufferView&) {
        const auto giveUp = std::chrono::steady_clock::now() + 10s;
        int policy = currentScheduling().policy;
        if (spun < 0) {
            spun = policy;
            while (policy != SCHED_OTHER && std::chrono::steady_clock::now() < giveUp) {
                policy = currentScheduling().policy;
            }
            after = policy;
        }
    });
    renderSeconds(graph, 1024 / rate);
    while (after < 0) {
        std::this_thread::sleep_for(10ms);
    }
    graph.tap().remove();
    EXPECT_EQ(spun.load(), SCHED_FIFO | SCHED_RESET_ON_FORK);
    EXPECT_EQ(after.load(), SCHED_OTHER);
    for (const auto giveUp = std::chrono::steady_clock::now() + 10s;
         warnings == 0 && std::chrono::steady_clock::now() < giveUp;) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(warnings.load(), 1);
    std::raise(SIGXCPU); // handled again, not the default ending
    qInstallMessageHandler(nullptr);
}

TEST(RenderGraphTest, TapGetsEveryFrameInOrderOnItsOwnThread) {
    RenderGraph graph(rate);
    TestSource source;
    graph.setSource(source.block());
    graph.timePitch().setBypass(true);

    std::atomic<std::size_t> frames{0};
    std::atomic<bool> outOfOrder{false};
    std::atomic<bool> onRenderThread{false};
    const pthread_t renderThread = pthread_self();
    graph.tap().install(1024, [&](const PcmBufferView& buffer) {
        if (pthread_equal(pthread_self(), renderThread)) {
            onRenderThread = true;
        }
        for (std::uint32_t i = 0; i < buffer.frameLength; ++i) {
            if (buffer.channels[0][i] != static_cast<float>(frames + i) * 1e-6f) {
                outOfOrder = true;
            }
        }
        frames += buffer.frameLength;
    });
    // Less than the ring holds, in odd pieces: 10 whole blocks and a rest.
    renderSeconds(graph, 10.5 * 1024 / rate, 333);
    while (frames < 10 * 1024) {
        std::this_thread::yield();
    }
    graph.tap().remove();

    EXPECT_EQ(frames, 10u * 1024);
    EXPECT_FALSE(outOfOrder);
    EXPECT_FALSE(onRenderThread);
}

} // namespace

} // namespace zivra::platform::sound
