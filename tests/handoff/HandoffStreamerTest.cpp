// The streamer against real WebSocket sessions over socket pairs: what a
// phone's end of the connection receives, frame by frame.
#include "handoff/HandoffStreamer.h"

#include "handoff/HandoffMessages.h"
#include "handoff/SessionWritability.h"
#include "http/WebSocketSession.h"
#include "tests/http/SocketPair.h"
#include "tests/http/WebSocketFrames.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <atomic>
#include <cmath>
#include <optional>
#include <thread>
#include <vector>

namespace zivra::handoff {
namespace {

constexpr uint8_t textFrame = 0x81;
constexpr uint8_t binaryFrame = 0x82;

using Transport = vuzozar::SocketPair::Transport;

// One phone: the session the streamer writes to and the end it reads from.
struct Phone {
    explicit Phone(Transport transport = Transport::local) : pair(transport) {}

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
// little (a 4 KiB send buffer, which a packet does not fit in), and it is
// sent far more than that, until it takes no more writes.
void connectStalled(HandoffStreamer& streamer, Phone& stalled) {
    const int small = 4096;
    setsockopt(stalled.pair.socket->socketFileDescriptor(), SOL_SOCKET, SO_SNDBUF, &small,
               sizeof small);
    streamer.connected(stalled.session);
    feed(streamer, {0.5f, 0.5f}, 2400, 48000, 60);
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

// Over both transports: a packet write that waited for the stalled phone
// would hold the send lock, and the next phone's connected() behind it.
TEST(HandoffStreamerTest, APhoneThatStopsReadingHoldsUpNoOther) {
    for (const Transport transport : {Transport::local, Transport::tcp}) {
        HandoffStreamer streamer;
        Phone stalled(transport);
        ASSERT_NO_FATAL_FAILURE(connectStalled(streamer, stalled));

        Phone next(transport);
        std::thread connecting([&] { streamer.connected(next.session); });
        const auto config = next.next();
        feed(streamer, {0.25f, 0.25f}, 2400, 48000, 40);
        // Whatever the ring still held comes first; the new audio follows.
        bool heard = false;
        for (int i = 0; i < 120 && !heard; ++i) {
            const auto packet = next.nextPacket();
            heard = !packet.empty() && packet[0] == 8191;
        }
        // Frees a stream thread and a connected() stuck on the stalled phone.
        stalled.pair.closePeer();
        connecting.join();
        EXPECT_TRUE(config && config->firstByte == textFrame);
        EXPECT_TRUE(heard) << "over " << (transport == Transport::tcp ? "TCP" : "a local socket");
        streamer.stop();
    }
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

// A phone over TCP that stops reading for a while (a locked screen) and then
// reads again. What was played meanwhile and queued for it arrives first, in
// order: what its own end of the connection took in before it stopped (no
// server can take that back) and at most about half a second more. Then come
// the config that came due meanwhile and, past the gap of what it missed,
// live audio. The tap plays in real time, each 50 ms buffer numbered by its
// level; the rate changes halfway through the stall.
TEST(HandoffStreamerTest, APhoneThatReadsAgainHearsLiveAudioSoon) {
    constexpr int stallPackets = 160; // 8 s: the kernel would queue all of it
    HandoffStreamer streamer;
    Phone phone(Transport::tcp);
    streamer.connected(phone.session);
    EXPECT_EQ(phone.nextText().value("sampleRate"), 48000);

    std::atomic<int> played{0};
    std::atomic<int> switchAt{INT32_MAX};
    std::jthread tap([&](const std::stop_token& stop) {
        auto due = std::chrono::steady_clock::now();
        for (int n = 0; !stop.stop_requested(); ++n) {
            const double rate = n < switchAt ? 48000 : 44100;
            feed(streamer, {float(n) / 4096, float(n) / 4096}, uint32_t(rate / 20), rate);
            played = n + 1;
            due += HandoffStreamer::packetInterval;
            std::this_thread::sleep_until(due);
        }
    });
    auto numberOf = [](const vuzozar::ServerFrame& frame) {
        const auto sample = int16_t(uint8_t(frame.payload[0]) | uint8_t(frame.payload[1]) << 8);
        return int(std::lround(sample * 4096.0 / 32767));
    };
    int last = 0;
    for (int i = 0; i < 10; ++i) {
        const auto frame = phone.next();
        ASSERT_TRUE(frame && frame->firstByte == binaryFrame);
        last = numberOf(*frame);
    }

    const int stalledAt = played;
    switchAt = stalledAt + stallPackets / 2;
    while (played < stalledAt + stallPackets) {
        std::this_thread::sleep_for(HandoffStreamer::packetInterval);
    }
    const int readAgainAt = played;
    int unread = 0;
    ioctl(phone.pair.peer, FIONREAD, &unread);
    const int inPhone = unread / int(packetFrames(48000) * 2 + 4);
    int queued = 0;
    std::optional<double> announced;
    for (int frames = 0; frames < 2 * stallPackets; ++frames) {
        const auto frame = phone.next();
        ASSERT_TRUE(frame);
        if (frame->firstByte == textFrame) {
            announced = QJsonDocument::fromJson(QByteArray::fromStdString(frame->payload))
                            .object()
                            .value("sampleRate")
                            .toDouble();
        } else if (numberOf(*frame) == last + 1) {
            queued += 1;
            last += 1;
        } else {
            EXPECT_GE(numberOf(*frame), readAgainAt - 20) << "the first packet past the gap";
            break;
        }
    }
    EXPECT_EQ(announced, 44100) << "the config owed, before the live packets";
    constexpr int unsentPackets = HandoffStreamer::maxUnsentAudio / HandoffStreamer::packetInterval;
    EXPECT_LE(queued, inPhone + unsentPackets + 1)
        << "packets of 50 ms queued while the phone did not read, " << inPhone
        << " of them in its own end of the connection";
    streamer.stop();
}

} // namespace
} // namespace zivra::handoff
