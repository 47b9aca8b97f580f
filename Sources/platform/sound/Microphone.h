#pragma once

#include "platform/sound/AudioBuffers.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace zivra::platform::sound {

// Receives each buffer the microphone fills: the source's channels, not interleaved, at the
// source's rate. Runs on the microphone's own thread; the pointers are valid only during the
// call. It may allocate and post work to other threads, but must not block for long: the
// stream waits meanwhile.
using MicrophoneBlock = std::function<void(const PcmBufferView& buffer)>;

// The default audio input (the sound server's default source), read in the source's own rate
// and channel count. Created, started, stopped and destroyed on the main thread.
class Microphone {
public:
    virtual ~Microphone() = default;

    // Opens the default source and delivers every bufferFrames frames to block. Throws
    // SoundError with the server's description when the source cannot be
    // opened. Starting again replaces the earlier stream and block.
    virtual void start(std::uint32_t bufferFrames, MicrophoneBlock block) = 0;

    // Closes the stream; when it returns the block is not running and is not called again.
    // Harmless when not started.
    virtual void stop() = 0;
};

// A microphone on a connection of its own to the sound server. Main thread; the caller owns
// it. Throws SoundError when the server cannot be reached, ServerUnanswered when it does not
// answer in time (a connection stays under way: whenServerAnswers tells when it answers).
std::unique_ptr<Microphone> createMicrophone();

// Calls `answered` once, the next time the sound server answers this process: a connection
// is made (also one a caller stopped waiting for), or one that waited hears back. Any
// thread; `answered` runs on whichever thread learns it and must only hand the news on.
void whenServerAnswers(std::function<void()> answered);

} // namespace zivra::platform::sound
