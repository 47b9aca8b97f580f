#pragma once

#include "audio/AudioPCMBuffer.h"
#include "audio/RingBuffer.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vuzozar {
class WebSocketSession;
}

namespace zivra::handoff {

// Carries the processed audio to one phone, the most recently connected:
// the engine's mixer tap writes every buffer into a 4 MiB ring, and every
// 50 ms the streamer's own thread ("velmora.zivra.handoff.stream") takes
// exactly 50 ms of it, mixes it to mono 16-bit and sends it as one binary
// WebSocket frame. A phone is sent nothing while more than maxUnsentAudio
// waits unsent in its connection, or while its connection would make the
// write wait: a phone that stops reading (a locked screen, a suspended tab)
// misses that audio and hears live sound when it reads again, and never
// holds up the next phone. A "config" text message announces the rate to
// each new receiver and again whenever the tap's rate or channel count
// changes; while the phone is sent nothing, the config stays due and no
// packet follows it.
//
// Sessions are shared with the server that serves them; the streamer keeps
// its receiver until it is told of the disconnect or stopped. Nothing here
// throws.
class HandoffStreamer {
public:
    static constexpr std::uint32_t ringCapacity = 4'194'304;
    static constexpr const char* streamQueueLabel = "velmora.zivra.handoff.stream";
    static constexpr std::chrono::milliseconds packetInterval{50};
    // The kernel lets megabytes queue for a phone that does not read before
    // its connection counts as full, all of it audio that the phone would
    // play first, seconds late, when it reads again.
    static constexpr std::chrono::milliseconds maxUnsentAudio{500};

    // The one streamer, created on first use and kept for the life of the
    // process. Call it once before the engine's tap runs (the first call maps
    // the ring).
    static HandoffStreamer& shared();

    HandoffStreamer();
    // Ends the stream thread; no call may run or follow.
    ~HandoffStreamer();
    HandoffStreamer(const HandoffStreamer&) = delete;
    HandoffStreamer& operator=(const HandoffStreamer&) = delete;

    // One tap buffer. Tap thread only (the ring's one producer): takes the
    // field lock once and copies; never allocates, never waits for the
    // network. The format is recorded also while nobody listens; the samples
    // are kept only while a receiver is set, and a buffer the ring has no
    // room for is dropped whole.
    void append(const audio::AudioPCMBuffer& buffer);

    // The session becomes the receiver (replacing any earlier one), gets a
    // config message at once (or, should its connection take no writes yet,
    // from the stream thread once it does), and the 50 ms timer runs. Any
    // thread; writes to the session on the calling thread, and never waits for
    // another phone.
    void connected(std::shared_ptr<vuzozar::WebSocketSession> session);
    // Ends the streaming when the session is the receiver; any other session
    // changes nothing. Any thread.
    void disconnected(const std::shared_ptr<vuzozar::WebSocketSession>& session);
    // Drops the receiver and halts the timer. Audio left in the ring goes to
    // the next receiver first. Any thread.
    void stop();

private:
    // Writes the config that is due when the receiver's connection takes it
    // without waiting; false while one stays due. The caller holds sendLock_.
    bool writeDueConfig();
    // Drops the receiver and disarms the timer; the caller holds lock_.
    void endStreaming();
    void runStreamQueue();
    void sendAudio();

    audio::RingBuffer ring_{ringCapacity};

    std::mutex lock_; // guards the fields up to nextTick_
    std::shared_ptr<vuzozar::WebSocketSession> activeSession_;
    double sampleRate_ = 0;
    std::uint32_t channels_ = 0;
    bool isStreaming_ = false;
    double lastReportedSampleRate_ = 0;
    std::uint32_t lastReportedChannels_ = 0;
    std::condition_variable timerWake_;
    bool timerArmed_ = false;
    bool quit_ = false;
    std::chrono::steady_clock::time_point nextTick_;

    // Held while a config or a packet is taken and written, so that a config
    // reaches its phone before any packet that follows it. Writes under it
    // never wait for a phone.
    std::mutex sendLock_;

    // The stream thread's own: the channel count of what it last read, and
    // the memory a packet is built in.
    std::uint32_t ringChannels_ = 0;
    std::vector<float> samples_;
    std::vector<std::uint8_t> packet_;

    std::thread streamQueue_; // last: starts once everything above exists
};

} // namespace zivra::handoff
