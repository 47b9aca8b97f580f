// The capture device on the tap against the private test server.
#include "platform/sound/PulseCaptureDevice.h"
#include "platform/sound/SoundError.h"
#include "platform/sound/SoundServer.h"
#include "tests/platform/sound/support/Scheduling.h"
#include "tests/platform/sound/support/SoundServerTools.h"
#include "tests/platform/sound/support/TestApplication.h"
#include "tests/platform/sound/support/ToneAnalysis.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace zivra::platform::sound {

using namespace std::chrono_literals;

namespace {

// What the capture block saw, written on the capture thread only.
struct Captured {
    std::vector<float> samples = std::vector<float>(48000 * 2 * 4);
    std::atomic<std::size_t> count{0};
    std::atomic<std::uint32_t> channels{0};
    char threadName[16] = {};

    void add(std::span<const AudioBuffer> input) {
        if (input.empty()) {
            return;
        }
        channels = input[0].numberChannels;
        pthread_getname_np(pthread_self(), threadName, sizeof threadName);
        const std::size_t have = count.load();
        const std::size_t n =
            std::min<std::size_t>(input[0].dataByteSize / sizeof(float), samples.size() - have);
        std::memcpy(samples.data() + have, input[0].data, n * sizeof(float));
        count = have + n;
    }
    std::vector<float> copy() const {
        return std::vector<float>(samples.begin(),
                                  samples.begin() + static_cast<std::ptrdiff_t>(count.load()));
    }
};

class CaptureDeviceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApplication(); }

    std::shared_ptr<SoundServer> server = createSoundServer();
};

TEST_F(CaptureDeviceTest, DeliversWhatTheTappedStreamsPlay) {
    QTemporaryDir dir;
    const QString tone = dir.filePath("tone.wav");
    writeCentreTone(tone, 440);
    Player player(tone);

    auto tap = server->createTap({"Zivra Tap", getpid()});
    auto device = server->createCaptureDevice(*tap, "Zivra Aggregate");
    ASSERT_TRUE(waitUntil([&] { return device->isAlive(); }));
    EXPECT_EQ(device->nominalSampleRate(), 48000.0);

    Captured captured;
    device->createIOProc([&](std::span<const AudioBuffer> input) { captured.add(input); });
    device->start();
    ASSERT_TRUE(waitUntil([&] { return captured.count > 48000 * 2 * 3; }, 20s));
    device->stop();
    const std::size_t stoppedAt = captured.count;

    EXPECT_EQ(captured.channels, 2u);
    // The capture thread carries the queue label, cut to what the kernel keeps.
    EXPECT_STREQ(captured.threadName, "velmora.zivra.i");
    const auto heard = mid(tail(captured.copy(), 48000));
    EXPECT_GT(levelDb(heard, testRate, 440), -20);
    EXPECT_LT(levelDb(heard, testRate, 880), -60);

    // Stopped: the block is not called any more.
    EXPECT_FALSE(waitUntil([&] { return captured.count != stoppedAt; }, 300ms));
    device->destroyIOProc();
    device->start();
    EXPECT_FALSE(waitUntil([&] { return captured.count != stoppedAt; }, 300ms));
}

TEST_F(CaptureDeviceTest, CapturesInRealTime) {
    if (!mayScheduleInRealTime()) {
        GTEST_SKIP() << "this process may not schedule threads in real time";
    }
    auto tap = server->createTap({"Zivra Tap", getpid()});
    auto device = server->createCaptureDevice(*tap, "Zivra Aggregate");
    ASSERT_TRUE(waitUntil([&] { return device->isAlive(); }));
    std::atomic<Scheduling> capture;
    device->createIOProc(
        [&capture](std::span<const AudioBuffer>) { capture = currentScheduling(); });
    device->start();
    ASSERT_TRUE(waitUntil([&] { return capture.load().policy >= 0; }));
    device->stop();

    EXPECT_EQ(capture.load().policy, SCHED_FIFO | SCHED_RESET_ON_FORK);
    EXPECT_GE(capture.load().priority, 1);
    EXPECT_LT(capture.load().priority, 5);
}

TEST_F(CaptureDeviceTest, ADeviceWithoutItsSourceNeverBecomesAlive) {
    PulseCaptureDevice device("no_such_tap.monitor", "Zivra Aggregate", 48000);
    EXPECT_FALSE(waitUntil([&] { return device.isAlive(); }, 1s));
    EXPECT_FALSE(device.nominalSampleRate().has_value());
    EXPECT_THROW(device.start(), SoundError);
    EXPECT_THROW(device.createIOProc([](std::span<const AudioBuffer>) {}), SoundError);
}

} // namespace

} // namespace zivra::platform::sound
