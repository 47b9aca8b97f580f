#pragma once

#include "MirrorBuffer/C/MirrorBuffer.h"
#include "audio/AudioParameters.h"
#include "audio/RingBuffer.h"
#include "platform/sound/OutputGraph.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>

namespace zivra::audio {

// How much captured sound the ring may hold beyond what the render side needs.
// Every frame stored is a frame of delay, and after a stall (the render side
// late, the capture side delivering a backlog at once) the ring would
// otherwise keep the backlog, and the delay, for good. The render path
// watches the surplus left after each request over a window: a surplus that
// never went below limitFrames was never needed, and all of it but keepFrames
// is dropped. Where the server hands the captured sound over in bursts larger
// than keepFrames (a quantum forced to 8192 frames), the render side may ask
// before or after a burst comes from one cycle to the next: a surplus of the
// largest burst of the window (up to windowFrames) is kept as well. A window with underruns raises
// both by keepFrames (up to maxRaiseFrames), since the machine's jitter just outgrew them, unless a
// backlog follows at once (a stall, not jitter); each window without one takes
// a little of the raise back.
struct RingLevel {
    // Surplus kept after a drop: room for the jitter of capture and render.
    std::uint32_t keepFrames = 0;
    // A lowest surplus above this over a whole window is a backlog.
    std::uint32_t limitFrames = 0;
    // Frames rendered per window; a window spans several capture fragments
    // and render requests, so the lowest surplus in it is what was spare.
    std::uint32_t windowFrames = 0;
    // The most an underrun-driven raise may add to keepFrames and limitFrames.
    std::uint32_t maxRaiseFrames = 0;

    // The level for a stream at sampleRate. Any thread; throws nothing.
    static RingLevel forSampleRate(double sampleRate);
};

// The render thread's running measure of the surplus in the current window,
// and the raise the underruns so far have earned.
struct RingLevelWatch {
    std::uint32_t lowestSurplus = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t renderedFrames = 0;
    bool underran = false;
    std::uint32_t raiseFrames = 0;
    std::uint32_t lastRaise = 0;    // what the window before added to raiseFrames
    std::uint32_t leftFrames = 0;   // stored after the last request
    std::uint32_t largestBurst = 0; // the most that came between two requests
};

// What the render path counts, for diagnostics and benchmarks. Written by the
// render thread, read from any thread.
struct RenderCounters {
    std::atomic<std::uint64_t> trims{0};     // backlogs dropped
    std::atomic<std::uint64_t> underruns{0}; // requests answered with silence
};

// Frames of the crossfade from the dropped backlog into the sound after it.
inline constexpr std::uint32_t trimCrossfadeFrames = 128;

// Renders frameCount frames from the ring into the two output channels
// (buffer 0 left, buffer 1 right), applying vocal removal, dual mono and
// volume. With fewer than frameCount frames stored, or without two usable
// output buffers, it outputs silence, flags it, counts an underrun and
// consumes nothing. When a window of level ends with a backlog it first drops
// the oldest frames of it, crossfading into what follows them, and counts a
// trim. Render thread; never allocates or locks beyond the parameter record.
void renderFromRing(MirrorBuffer& ring, const AudioParameters& parameters, bool& isSilence,
                    std::uint32_t frameCount, std::span<platform::sound::AudioBuffer> output,
                    const RingLevel& level, RingLevelWatch& watch, RenderCounters& counters);

// The graph's source callback: renders from the given ring, which it keeps,
// holding its level and counting into counters. It keeps all three shared
// objects alive; none may be null. Built on the main thread; throws only
// std::bad_alloc.
platform::sound::RenderBlock makeRenderBlock(std::shared_ptr<RingBuffer> ring,
                                             std::shared_ptr<const AudioParameters> parameters,
                                             RingLevel level,
                                             std::shared_ptr<RenderCounters> counters);

} // namespace zivra::audio
