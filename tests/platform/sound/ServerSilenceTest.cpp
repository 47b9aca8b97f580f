// A sound server that stops answering (stopped, as a debugger or a frozen
// session would) is waited for, not given up: whoever waits for it is told
// once it answers, however the silence began and however long it lasted.
#include "platform/sound/PulseLoop.h"
#include "platform/sound/PulseQueries.h"
#include "platform/sound/SoundError.h"
#include "tests/platform/sound/support/SoundServerTools.h"
#include "tests/platform/sound/support/TestApplication.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

using namespace std::chrono_literals;

namespace zivra::platform::sound {
namespace {

// The sockets this process holds.
int socketCount() {
    int count = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        std::error_code unreadable;
        count +=
            std::filesystem::read_symlink(entry.path(), unreadable).native().starts_with("socket:")
                ? 1
                : 0;
    }
    return count;
}

long long millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// Connects during a stop until a connection is left under way (the server
// unanswered); those made before the stop are taken over first. Any other
// failure throws.
bool connectionsLeaveOneUnderWay() {
    for (int n = 0; n < 8; ++n) {
        try {
            PulseLoop loop("zivra.test");
        } catch (const ServerUnanswered&) {
            return true;
        }
    }
    return false;
}

class ServerSilenceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApplication(); }
};

// The silence begins after the connection is made: its wait runs out, and
// the connection goes with its caller (a microphone whose stream the server
// never confirmed) before the server answers the look the wait sent.
TEST_F(ServerSilenceTest, AWaitThatRanOutIsToldOfTheAnswerAfterItsConnectionWent) {
    auto loop = std::make_unique<PulseLoop>("zivra.test");
    StoppedServer server;
    ASSERT_TRUE(server.any());
    {
        const PulseLoop::Lock lock(*loop);
        EXPECT_FALSE(pulse::listSinks(*loop).has_value());
        EXPECT_TRUE(loop->awaitsAnswer());
    }
    loop.reset();
    auto answered = std::make_shared<std::atomic<bool>>(false);
    PulseLoop::whenServerAnswers([answered] { *answered = true; });
    server.goOn();
    EXPECT_TRUE(waitUntil([&] { return answered->load(); }, 20s));
}

// A stop longer than libpulse waits for a handshake: the handshakes it gives
// up stay in the stopped server's listen queue until the server goes on, and
// a full queue refuses the next. PulseAudio's holds five, a stop of a minute
// and a half filled it. A stop that begins with the queue full (other
// programs' handshakes) comes first: the connections it refuses must leave
// the process able to start a handshake again in the next.
TEST_F(ServerSilenceTest, AServerWhoseListenQueueFilledWhileStoppedIsHeardOnceItGoesOn) {
    {
        StoppedServer server;
        ASSERT_TRUE(server.any());
        EXPECT_GT(fillListenQueue(), 0);
        // Refused by the full queue: silent, not gone (no SoundError).
        EXPECT_TRUE(connectionsLeaveOneUnderWay());
        auto answered = std::make_shared<std::atomic<bool>>(false);
        PulseLoop::whenServerAnswers([answered] { *answered = true; });
        server.goOn();
        const auto wentOn = std::chrono::steady_clock::now();
        EXPECT_TRUE(waitUntil([&] { return answered->load(); }, 5s));
        std::printf("the first wait was told %lld ms after the server went on\n",
                    millisecondsSince(wentOn));
    }
    const int socketsBefore = socketCount();
    StoppedServer server;
    ASSERT_TRUE(server.any());
    // A connection made before the stop and taken over during it is no
    // answer of the stopped server.
    auto answered = std::make_shared<std::atomic<bool>>(false);
    PulseLoop::whenServerAnswers([answered] { *answered = true; });
    ASSERT_TRUE(connectionsLeaveOneUnderWay());
    EXPECT_FALSE(answered->load());
    EXPECT_GT(fillListenQueue(), 0);
    // libpulse gives the handshakes under way up after about 30 s and closes
    // their sockets; a new one is refused by the full queue.
    ASSERT_TRUE(waitUntil([&] { return socketCount() <= socketsBefore; }, 90s));
    EXPECT_FALSE(answered->load());

    server.goOn();
    const auto wentOn = std::chrono::steady_clock::now();
    EXPECT_TRUE(waitUntil([&] { return answered->load(); }, 10s));
    std::printf("the second wait was told %lld ms after the server went on\n",
                millisecondsSince(wentOn));
    EXPECT_NO_THROW(PulseLoop("zivra.test"));
}

// The connections left under way during a stop are made once the server goes
// on, and kept for later; they told their answer then. A wait that begins
// after that is told of a later answer, also after another stop, and adds no
// connection beside them, however often it is asked.
TEST_F(ServerSilenceTest, WaitsAfterTheKeptConnectionsWereMadeHearLaterAnswersAndAddNone) {
    {
        StoppedServer server;
        ASSERT_TRUE(server.any());
        ASSERT_TRUE(connectionsLeaveOneUnderWay());
    }
    const auto connections = [] {
        return threadsNamed("zivra.spare").size() + threadsNamed("zivra.test").size();
    };
    const auto told = [] {
        auto answered = std::make_shared<std::atomic<bool>>(false);
        PulseLoop::whenServerAnswers([answered] { *answered = true; });
        return answered;
    };
    std::vector<std::size_t> kept;
    for (int wait = 0; wait < 3; ++wait) {
        const auto answered = told();
        ASSERT_TRUE(waitUntil([&] { return answered->load(); }, 10s));
        kept.push_back(connections());
    }
    StoppedServer server;
    const auto answered = told();
    EXPECT_FALSE(answered->load());
    server.goOn();
    EXPECT_TRUE(waitUntil([&] { return answered->load(); }, 10s));
    kept.push_back(connections());
    EXPECT_EQ(std::ranges::max(kept), kept.front()) << "a connection more for a wait";
}

} // namespace
} // namespace zivra::platform::sound
