#pragma once

#include "platform/sound/OutputGraph.h"
#include "platform/sound/RenderPace.h"
#include "platform/sound/TapRelay.h"
#include "platform/sound/TimePitchStage.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace zivra::platform::sound {

// The pull graph behind the playback stream, free of any sound-server type:
// source (render block) -> time-pitch -> stream mixer (tap) -> main mixer
// (volume) -> interleaved stereo. render() and renderPaced() are the render
// thread's entries; they work in blocks of at most blockFrames and never
// allocate. Owned by the playback graph; constructed on the main thread,
// where it allocates all it needs and throws only std::bad_alloc (or what the
// tap relay's thread start throws). Nothing else here throws.
class RenderGraph {
public:
    static constexpr std::uint32_t blockFrames = 512;
    // While shifting, the source is pulled in blocks of this size: whatever
    // the time-pitch stage was fed beyond what it needed waits in its FIFO,
    // as delay.
    static constexpr std::uint32_t pitchPullFrames = 256;
    static_assert(pitchPullFrames <= blockFrames);

    explicit RenderGraph(double sampleRate);

    // Before rendering starts (main thread).
    void setSource(RenderBlock block) { source_ = std::move(block); }
    // Borrowed for the graph's lifetime.
    TapRelay& tap() { return tap_; }

    // Any thread.
    TimePitchStage& timePitch() { return timePitch_; }
    void setVolume(float volume) { volume_.store(volume, std::memory_order_relaxed); }
    float volume() const { return volume_.load(std::memory_order_relaxed); }

    // Render thread: fills frames interleaved stereo frames.
    void render(float* interleaved, std::uint32_t frames);

    // Render thread, for a stream asking at `now` whose server-side buffer
    // holds bufferFrames: renders no faster than the clock (RenderPace) and
    // fills what the request asks beyond that with silence, so that no
    // request, however large, is worked on for long.
    void renderPaced(float* interleaved, std::uint32_t frames, RenderPace::Clock::time_point now,
                     std::uint32_t bufferFrames);

private:
    void pullSource(std::uint32_t frames);
    void renderBlock(float* interleaved, std::uint32_t frames);

    RenderBlock source_;
    TimePitchStage timePitch_;
    TapRelay tap_;
    RenderPace pace_;
    std::atomic<float> volume_{1.0f};
    std::vector<float> source0_, source1_; // the source's output
    std::vector<float> mix0_, mix1_;       // the stream mixer's output
    AudioBuffer sourceBuffers_[2];
};

} // namespace zivra::platform::sound
