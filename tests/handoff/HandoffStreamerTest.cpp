// The streamer against real WebSocket sessions over socket pairs: what a
// phone's end of the connection receives, frame by frame.
#include "handoff/HandoffStreamer.h"

#include "handoff/SessionWritability.h"
#include "http/WebSocketSession.h"
#include "tests/http/SocketPair.h"
#include "tests/http/WebSocketFrames.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <thread>
#include <vector>

namespace zivra::handoff {
namespace {

constexpr uint8_t textFrame = 0x81;
constexpr uint8_t binaryFrame = 0x82;

// One phone: the session the streamer writes to and the end it reads from.
struct Phone {
    vuzozar::SocketPair pair;
    std::shared_ptr<vuzozar::WebSocketSession> session =
        std::make_shared<vuzozar::WebSocketSession>(pair.socket);

    // The next frame, or nothing when none comes within the time.
    std::optional<vuzozar::ServerFrame> next(int milliseconds = 2000) {
        pollfd ready{pair.peer, POLLIN, 0};
        if (poll(&ready, 1, milliseconds) != 1) {
            return std::nullopt;
        }
        return vuzozar::readServerFrame([this](size_t count) { return pair.receive(count); });
    }

    QJsonObject nextText() {
        auto frame = next();
        EXPECT_TRUE(frame && frame->firstByte == textFrame);
        return QJsonDocument::fromJson(QByteArray::fromStdString(frame ? frame->payload : ""))
            .object();
    }

    std::vector<int16_t> nextPacket() {
        auto frame = next();
        EXPECT_TRUE(frame && frame->firstByte == binaryFrame);
        std::vector<int16_t> samples;
        for (size_t i = 0; frame && i + 1 < frame->payload.size(); i += 2) {
            samples.push_back(int16_t(uint8_t(frame->payload[i]) |
                                      uint16_t(uint8_t(frame->payload[i + 1])) << 8));
        }
        return samples;
    }
};

// Tap buffers of constant channel values, as the engine's tap hands them over.
void feed(HandoffStreamer& streamer, std::vector<float> values, uint32_t frames, double rate,
          int buffers = 1) {
    std::vector<std::vector<float>> channels;
    std::vector<const float*> pointers;
    for (float value : values) {
        channels.emplace_back(frames, value);
    }
    for (const auto& channel : channels) {
        pointers.push_back(channel.data());
    }
    const audio::AudioPCMBuffer buffer{pointers.data(), uint32_t(values.size()), frames, rate};
    for (int i = 0; i < buffers; ++i) {
        streamer.append(buffer);
    }
}

// A phone that stops reading becomes the receiver: its connection holds
// little, and it is sent far more than that, until it takes no more writes.
void connectStalled(HandoffStreamer& streamer, Phone& stalled) {
    const int small = 4096;
    setsockopt(stalled.pair.socket->socketFileDescriptor(), SOL_SOCKET, SO_SNDBUF, &small,
               sizeof small);
    streamer.connected(stalled.session);
    feed(streamer, {0.5f, 0.5f}, 2400, 48000, 20);
    for (int i = 0; i < 200 && canWriteWithoutWaiting(*stalled.session); ++i) {
        std::this_thread::sleep_for(HandoffStreamer::packetInterval);
    }
    ASSERT_FALSE(canWriteWithoutWaiting(*stalled.session));
}

TEST(HandoffStreamerTest, SendsWholeMonoPacketsOfFiftyMilliseconds) {
    HandoffStreamer streamer;
    Phone phone;
    streamer.connected(phone.session);
    const QJsonObject config = phone.nextText();
    EXPECT_EQ(config.value("sampleRate"), 48000);
    EXPECT_EQ(config.value("packetFrames"), 2400);

    // 1.5 packets: one goes out, the half waits for more.
    feed(streamer, {0.5f, -0.49f}, 1200, 48000, 3);
    EXPECT_EQ(phone.nextPacket(), std::vector<int16_t>(2400, 16383));
    EXPECT_FALSE(phone.next(300));
    feed(streamer, {0.3f, -0.3f}, 1200, 48000);
    auto second = phone.nextPacket();
    ASSERT_EQ(second.size(), 2400u);
    EXPECT_EQ(second[0], 16383);
    EXPECT_EQ(second[2399], 9830);

    // A mono tap goes out as it is, after a config for the new layout; what
    // was stored in the stereo layout is dropped, not read as mono.
    feed(streamer, {0.5f, 0.5f}, 600, 48000);
    feed(streamer, {-0.25f}, 600, 48000);
    EXPECT_EQ(phone.nextText().value("packetFrames"), 2400);
    feed(streamer, {-0.25f}, 2400, 48000);
    EXPECT_EQ(phone.nextPacket(), std::vector<int16_t>(2400, -8191));
    streamer.stop();
}

TEST(HandoffStreamerTest, ARateChangeIsAnnouncedOnceBeforeItsPackets) {
    HandoffStreamer streamer;
    Phone phone;
    feed(streamer, {0.1f, 0.1f}, 1024, 48000);
    streamer.connected(phone.session);
    EXPECT_EQ(phone.nextText().value("sampleRate"), 48000);
    feed(streamer, {0.1f, 0.1f}, 2400, 48000);
    EXPECT_EQ(phone.nextPacket().size(), 2400u);

    feed(streamer, {0.2f, 0.2f}, 2205, 44100, 3);
    const QJsonObject config = phone.nextText();
    EXPECT_EQ(config.value("sampleRate"), 44100);
    EXPECT_EQ(config.value("packetFrames"), 2205);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(phone.nextPacket(), std::vector<int16_t>(2205, 6553));
    }
    EXPECT_FALSE(phone.next(300));
    streamer.stop();
}

TEST(HandoffStreamerTest, OnlyTheNewestPhoneReceivesAudio) {
    HandoffStreamer streamer;
    Phone first;
    Phone second;
    streamer.connected(first.session);
    first.nextText();
    streamer.connected(second.session);
    EXPECT_EQ(second.nextText().value("type"), "config");

    feed(streamer, {0.5f, 0.5f}, 2400, 48000);
    EXPECT_EQ(second.nextPacket().size(), 2400u);
    EXPECT_FALSE(first.next(200));

    // The earlier phone's leaving keeps the newer one's audio going.
    streamer.disconnected(first.session);
    feed(streamer, {0.5f, 0.5f}, 2400, 48000);
    EXPECT_EQ(second.nextPacket().size(), 2400u);

    // Nothing is stored or sent once the receiver has left.
    streamer.disconnected(second.session);
    feed(streamer, {0.5f, 0.5f}, 2400, 48000);
    EXPECT_FALSE(second.next(200));
    Phone third;
    streamer.connected(third.session);
    third.nextText();
    EXPECT_FALSE(third.next(200));
    streamer.stop();
}

// The old phone's leaving and the new phone's coming, run at the same moment
// round after round: in any interleaving the new phone gets audio after its
// config (a second is far more than the 50 ms the timer takes).
TEST(HandoffStreamerTest, ANewPhoneComingAsTheOldOneLeavesIsNeverLeftSilent) {
    constexpr int rounds = 300;
    HandoffStreamer streamer;
    auto current = std::make_unique<Phone>();
    streamer.connected(current->session);
    current->nextText();
    int silent = 0;
    for (int round = 0; round < rounds; ++round) {
        auto next = std::make_unique<Phone>();
        std::atomic<int> waiting{2};
        auto together = [&waiting] {
            --waiting;
            while (waiting.load() > 0) {
            }
        };
        std::thread leaving([&] {
            together();
            streamer.disconnected(current->session);
        });
        together();
        streamer.connected(next->session);
        leaving.join();
        feed(streamer, {0.5f, 0.5f}, 2400, 48000);
        EXPECT_EQ(next->nextText().value("type"), "config");
        const auto packet = next->next(1000);
        silent += !packet || packet->firstByte != binaryFrame;
        current = std::move(next);
    }
    EXPECT_EQ(silent, 0) << "of " << rounds << " rounds";
    streamer.stop();
}

TEST(HandoffStreamerTest, APhoneThatStopsReadingHoldsUpNoOther) {
    HandoffStreamer streamer;
    Phone stalled;
    ASSERT_NO_FATAL_FAILURE(connectStalled(streamer, stalled));

    Phone next;
    streamer.connected(next.session);
    EXPECT_EQ(next.nextText().value("type"), "config");
    feed(streamer, {0.25f, 0.25f}, 2400, 48000, 40);
    // Whatever the ring still held comes first; the new audio follows.
    bool heard = false;
    for (int i = 0; i < 40 && !heard; ++i) {
        const auto packet = next.nextPacket();
        heard = !packet.empty() && packet[0] == 8191;
    }
    EXPECT_TRUE(heard);
    streamer.stop();
}

// Each change of rate owes the stalled phone a config that its full
// connection cannot take; the phone that comes meanwhile is served all the
// same. Buffers come at the tap's pace, so that the stream thread sees every
// change.
TEST(HandoffStreamerTest, AConfigOwedToAStalledPhoneHoldsUpNoOther) {
    HandoffStreamer streamer;
    Phone stalled;
    ASSERT_NO_FATAL_FAILURE(connectStalled(streamer, stalled));
    for (int change = 0; change < 4; ++change) {
        feed(streamer, {0.5f, 0.5f}, 2205, change % 2 == 0 ? 44100 : 48000);
        std::this_thread::sleep_for(2 * HandoffStreamer::packetInterval);
    }

    Phone next;
    std::thread connecting([&] { streamer.connected(next.session); });
    const auto config = next.next();
    feed(streamer, {0.25f, 0.25f}, 2400, 48000, 2);
    const auto packet = next.next();
    // Frees a stream thread and a connected() stuck on the stalled phone.
    stalled.pair.closePeer();
    connecting.join();
    EXPECT_TRUE(config && config->firstByte == textFrame);
    EXPECT_TRUE(packet && packet->firstByte == binaryFrame);
    streamer.stop();
}

} // namespace
} // namespace zivra::handoff
