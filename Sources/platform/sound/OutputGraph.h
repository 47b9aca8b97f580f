#pragma once

#include "platform/sound/AudioBuffers.h"

#include <cstdint>
#include <functional>
#include <span>

namespace zivra::platform::sound {

// The graph's source: fills frameCount frames into output (two buffers of one
// channel each: left, right), or sets isSilence when it has nothing to give
// (the graph then plays silence, whatever the buffers hold). Runs on the
// render thread; must not allocate, lock (beyond a short parameter lock) or
// block.
using RenderBlock =
    std::function<void(bool& isSilence, std::uint32_t frameCount, std::span<AudioBuffer> output)>;

// Receives every block of the stream mixer's output (up to the installed
// buffer size in frames). Runs on the graph's tap thread, never on the render
// thread, so it may allocate and hand results to the main thread.
using TapBlock = std::function<void(const PcmBufferView& buffer)>;

// The playback graph: source (render block) -> time-pitch -> stream mixer
// (with its tap) -> main mixer (volume) -> a playback stream on one physical
// sink that never moves to another sink. Everything is allocated when the
// graph is created or configured; the render path only pulls. Configure it
// (source, tap, output device) before start(). Main thread only; owned by
// whoever created it, and it keeps the installed blocks until they are
// replaced or it is destroyed. Only start() throws.
class OutputGraph {
public:
    virtual ~OutputGraph() = default;

    // Attaches the render block as the graph's source. Before start().
    virtual void setSource(RenderBlock block) = 0;

    // Time-pitch settings, taken over at the start of the next block, never
    // while a block is processed. Pitch is in cents (1200 = one octave up);
    // bypass passes the source's audio through untouched.
    virtual void setPitch(float cents) = 0;
    virtual void setBypass(bool bypass) = 0;

    // Channels of the stream mixer's output; no tap can be installed on a
    // mixer without channels.
    virtual std::uint32_t streamMixerChannelCount() const = 0;

    // Installs the stream mixer's tap, delivering blocks of bufferFrames
    // frames. Before start(). Replaces an earlier tap.
    virtual void installTap(std::uint32_t bufferFrames, TapBlock block) = 0;

    // Removes the tap; after it returns the tap block is not called again.
    virtual void removeTap() = 0;

    // Chooses the sink the graph plays on (a sink index). Before start().
    // Returns 0 or the server's error code; on failure the graph plays on the
    // server's default sink, unless that is Zivra's own tap (start() throws).
    virtual int setOutputDevice(std::uint32_t sinkIndex) = 0;

    // Called once, on the graph's own event thread, when its playback stream
    // ends without stop(): its sink went away, or the server ended it. The
    // handler must only hand the news on (it may allocate, never block).
    // Before start().
    virtual void setEndedHandler(std::function<void()> handler) = 0;

    // The main mixer's linear gain, applied last. Any time.
    virtual void setVolume(float volume) = 0;
    virtual float volume() const = 0;

    // Opens the playback stream and starts pulling the source. Throws
    // SoundError with the server's description when the stream cannot start.
    virtual void start() = 0;

    // Stops pulling; when it returns no block of the graph runs any more.
    // Harmless when not started.
    virtual void stop() = 0;

    // Whether the server holds the started stream: its sink is suspended or
    // the stream corked. Such a stream asks for no sound, by design, and has
    // not ended. Main thread; never waits on the server.
    virtual bool isHeld() const { return false; }
};

} // namespace zivra::platform::sound
