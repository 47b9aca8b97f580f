#include "handoff/HandoffStreamer.h"

#include "handoff/HandoffMessages.h"
#include "handoff/MonoPacket.h"
#include "http/WebSocketSession.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string>

namespace zivra::handoff {

namespace {

// Writes `bytes` as one frame to a phone unless that would wait for it, or
// leave more than maxUnsentAudio at `rate` waiting unsent to it.
bool writeWithoutWaiting(vuzozar::WebSocketSession& session, std::span<const std::uint8_t> bytes,
                         vuzozar::WebSocketSession::OpCode op, double rate) {
    constexpr auto packets = HandoffStreamer::maxUnsentAudio / HandoffStreamer::packetInterval;
    // A packet's samples and its frame head.
    const std::size_t packetBytes = std::size_t(packetFrames(rate)) * 2 + 4;
    return session.writeFrameWithoutWaiting(bytes, op, std::size_t(packets) * packetBytes);
}

} // namespace

HandoffStreamer& HandoffStreamer::shared() {
    // Never destroyed: its thread must not be joined during static destruction.
    static HandoffStreamer* const instance = new HandoffStreamer;
    return *instance;
}

HandoffStreamer::HandoffStreamer() : streamQueue_([this] { runStreamQueue(); }) {}

HandoffStreamer::~HandoffStreamer() {
    {
        std::lock_guard guard(lock_);
        quit_ = true;
    }
    timerWake_.notify_all();
    streamQueue_.join();
}

void HandoffStreamer::append(const audio::AudioPCMBuffer& buffer) {
    const std::uint32_t frames = buffer.frameLength;
    if (frames == 0) {
        return;
    }
    bool streaming = false;
    {
        std::lock_guard guard(lock_);
        sampleRate_ = buffer.sampleRate;
        channels_ = buffer.channelCount;
        streaming = isStreaming_;
    }
    const std::uint32_t channels = buffer.channelCount;
    if (!streaming || channels == 0) {
        return;
    }
    const std::uint64_t bytes = std::uint64_t(frames) * channels * sizeof(float);
    MirrorBuffer& ring = ring_.buffer();
    std::uint32_t space = 0;
    void* region = MirrorBufferGetWritePointer(&ring, &space);
    if (!region || space < bytes) {
        return;
    }
    auto* samples = static_cast<float*>(region);
    std::memset(samples, 0, bytes);
    if (buffer.channels) {
        for (std::uint32_t c = 0; c < std::min<std::uint32_t>(channels, 2); ++c) {
            const float* source = buffer.channels[c];
            if (!source) {
                continue;
            }
            for (std::uint32_t i = 0; i < frames; ++i) {
                samples[std::size_t(i) * channels + c] = source[i];
            }
        }
    }
    MirrorBufferProduce(&ring, static_cast<std::uint32_t>(bytes));
}

// The receiver and the timer change under one lock: a phone leaving while the
// next one comes can no longer disarm the timer that the new one armed.
void HandoffStreamer::connected(std::shared_ptr<vuzozar::WebSocketSession> session) {
    {
        std::lock_guard guard(lock_);
        activeSession_ = std::move(session);
        isStreaming_ = true;
        lastReportedSampleRate_ = 0;
        lastReportedChannels_ = 0;
        if (!timerArmed_) {
            timerArmed_ = true;
            nextTick_ = std::chrono::steady_clock::now();
        }
    }
    timerWake_.notify_all();
    std::lock_guard sending(sendLock_);
    writeDueConfig();
}

void HandoffStreamer::disconnected(const std::shared_ptr<vuzozar::WebSocketSession>& session) {
    {
        std::lock_guard guard(lock_);
        if (activeSession_ != session) {
            return;
        }
        endStreaming();
    }
    timerWake_.notify_all();
}

void HandoffStreamer::stop() {
    {
        std::lock_guard guard(lock_);
        endStreaming();
    }
    timerWake_.notify_all();
}

void HandoffStreamer::endStreaming() {
    activeSession_.reset();
    isStreaming_ = false;
    timerArmed_ = false;
}

bool HandoffStreamer::writeDueConfig() {
    std::shared_ptr<vuzozar::WebSocketSession> session;
    double rate = 0;
    std::uint32_t channels = 0;
    {
        std::lock_guard guard(lock_);
        if (!activeSession_) {
            return true;
        }
        rate = sampleRate_ > 0 ? sampleRate_ : 48000;
        channels = channels_ != 0 ? channels_ : 2;
        if (rate == lastReportedSampleRate_ && channels == lastReportedChannels_) {
            return true;
        }
        session = activeSession_;
    }
    // A config that cannot be serialised is not sent, nor tried again.
    if (const auto text = configMessage(rate)) {
        const std::span bytes(reinterpret_cast<const std::uint8_t*>(text->data()), text->size());
        if (!writeWithoutWaiting(*session, bytes, vuzozar::WebSocketSession::OpCode::text, rate)) {
            return false;
        }
    }
    std::lock_guard guard(lock_);
    // A phone that came meanwhile is owed its own config.
    if (activeSession_ == session) {
        lastReportedSampleRate_ = rate;
        lastReportedChannels_ = channels;
    }
    return true;
}

void HandoffStreamer::runStreamQueue() {
    // The kernel keeps the first 15 characters of a thread's name.
    pthread_setname_np(pthread_self(), std::string(streamQueueLabel).substr(0, 15).c_str());
    std::unique_lock guard(lock_);
    while (!quit_) {
        if (!timerArmed_) {
            timerWake_.wait(guard);
            continue;
        }
        const auto tick = nextTick_;
        if (timerWake_.wait_until(guard, tick, [&] { return quit_ || !timerArmed_; })) {
            continue;
        }
        // Ticks keep to the clock: after a send that blocked, the missed ones
        // follow at once, so a backlog does not become lasting latency.
        nextTick_ = tick + packetInterval;
        guard.unlock();
        sendAudio();
        guard.lock();
    }
}

void HandoffStreamer::sendAudio() {
    std::lock_guard sending(sendLock_);
    std::shared_ptr<vuzozar::WebSocketSession> session;
    double rate = 0;
    std::uint32_t channels = 0;
    {
        std::lock_guard guard(lock_);
        session = activeSession_;
        rate = sampleRate_;
        channels = channels_;
    }
    if (!session || !(rate > 0) || channels == 0) {
        return;
    }
    MirrorBuffer& ring = ring_.buffer();
    if (channels != ringChannels_) {
        // Whatever was stored before the change has the old frame layout, and
        // read with the new one every later packet would be shifted; it is
        // dropped (the producer only writes whole buffers, so what remains
        // starts on a frame).
        if (ringChannels_ != 0) {
            MirrorBufferConsume(&ring, MirrorBufferFillCount(&ring));
        }
        ringChannels_ = channels;
    }
    // A change of rate or channel count reaches the receiver before the
    // audio: while the config waits, so do the packets.
    const bool announced = writeDueConfig();
    const std::uint32_t frames = packetFrames(rate);
    const std::uint64_t need = std::uint64_t(frames) * channels * sizeof(float);
    if (need < 1 || need > ring.length || MirrorBufferFillCount(&ring) < need) {
        return;
    }
    samples_.resize(std::size_t(frames) * channels);
    const std::uint32_t read = ring_.read(samples_.data(), static_cast<std::uint32_t>(need));
    if (read / (channels * sizeof(float)) != frames) {
        return;
    }
    packet_.resize(std::size_t(frames) * 2);
    mixToMonoPcm16(samples_.data(), frames, channels, packet_.data());
    if (announced) {
        writeWithoutWaiting(*session, packet_, vuzozar::WebSocketSession::OpCode::binary, rate);
    }
}

} // namespace zivra::handoff
