#pragma once

#include "platform/sound/AudioBuffers.h"

#include <functional>
#include <optional>
#include <span>

namespace zivra::platform::sound {

// Called once per captured block with the input buffer list. Runs on the
// capture thread, named after the label "velmora.zivra.io" (the kernel keeps
// the first 15 characters); it must not allocate, lock or block.
using CaptureBlock = std::function<void(std::span<const AudioBuffer> input)>;

// The length of the blocks a capture device asks the server for: every frame
// of a block is delay, and the render side sizes its backlog limit by it.
inline constexpr double captureFragmentSeconds = 0.005;

// The capture device that reads a tap (the Linux form of the "Zivra
// Aggregate" device): a record stream on the tap's source delivering
// interleaved float32 stereo at the tap's rate. Creating it starts the
// connection; it becomes alive once the server has accepted the stream.
// Destroying it stops and releases everything. Main thread only; owned by
// whoever created it (the engine), and it keeps the installed block.
class CaptureDevice {
public:
    virtual ~CaptureDevice() = default;

    // True once the stream is ready to deliver audio. Cheap; the engine polls
    // it until the device is alive or it gives up.
    virtual bool isAlive() = 0;

    // The rate the device delivers at; empty when it cannot be read yet.
    virtual std::optional<double> nominalSampleRate() = 0;

    // Installs the capture block. Must precede start(); throws SoundError when
    // the device is gone.
    virtual void createIOProc(CaptureBlock block) = 0;

    // Removes the capture block; only allowed while stopped. Throws nothing.
    virtual void destroyIOProc() = 0;

    // Starts delivering blocks to the capture block; throws SoundError (with
    // the server's code) when the server refuses.
    virtual void start() = 0;

    // Called once, on the device's own event thread, when its stream ends
    // after it became alive, without the device being destroyed: its source
    // went away (the tap was removed) or the server ended it. The handler
    // must only hand the news on (it may allocate, never block). Before
    // start(); throws nothing but std::bad_alloc.
    virtual void setEndedHandler(std::function<void()> handler) = 0;

    // Stops delivery. When it returns the capture block is not running and is
    // not called again until the next start(). Harmless when not started;
    // throws nothing. isAlive() and nominalSampleRate() throw nothing either.
    virtual void stop() = 0;
};

} // namespace zivra::platform::sound
