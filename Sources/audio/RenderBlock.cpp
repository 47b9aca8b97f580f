#include "audio/RenderBlock.h"

#include "platform/sound/CaptureDevice.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace zivra::audio {

using platform::sound::AudioBuffer;

namespace {

constexpr std::uint32_t frameBytes = 8;

// How far the lowest surplus of a window may lie above the kept one before it
// is dropped: after a stall the delay comes back to within this of the kept
// surplus. The lowest surplus of a whole window is already free of jitter.
constexpr double ringSlackSeconds = 0.002;

// The surplus kept after a drop: one capture fragment and half another. With
// one fragment alone the two streams' jitter on a busy machine ran the ring
// dry and each such underrun was followed by a drop again.
constexpr double ringKeepSeconds = 1.5 * platform::sound::captureFragmentSeconds;

// Long enough to span the gaps of bursty delivery, short enough that a
// backlog goes unnoticed for no longer than this.
constexpr double levelWindowSeconds = 0.2;

// A raise for underruns goes back by keepFrames over this many quiet windows
// (about three seconds): long enough that a busy spell does not run the ring
// dry again at once, short enough that the one-off underruns of a stall leave
// the delay raised only briefly.
constexpr std::uint32_t raiseDecayWindows = 16;

// Underruns raise the kept surplus by at most this.
constexpr double maxRaiseSeconds = 0.03;

struct Blend {
    float a;
    float b;
    float volume;
};

// One loop per combination of the two per-call switches, so each loop body is
// straight multiply-adds that the compiler vectorises.
template <bool passThrough, bool dualMono>
void mix(const float* __restrict in, float* __restrict left, float* __restrict right,
         std::size_t frames, Blend blend) {
    for (std::size_t i = 0; i < frames; ++i) {
        const float l = in[2 * i];
        const float r = in[2 * i + 1];
        const float side = (l - r) * 0.5f;
        const float outLeft = passThrough ? l : blend.a * side;
        const float outRight = dualMono ? outLeft : (passThrough ? r : blend.b * side);
        left[i] = blend.volume * outLeft;
        right[i] = blend.volume * outRight;
    }
}

bool usable(const AudioBuffer& buffer, std::uint32_t bytes) {
    return buffer.data && buffer.dataByteSize >= bytes;
}

// Drops the oldest `drop` frames of `stored`: the first frames after them
// are faded in over the frames that would have played, in place (the reader
// owns every stored byte), so the cut makes no click.
const float* dropBacklog(const float* in, std::uint32_t drop, std::uint32_t fadeFrames) {
    auto* next = const_cast<float*>(in) + std::size_t{drop} * 2;
    for (std::uint32_t i = 0; i < fadeFrames; ++i) {
        const float w = (static_cast<float>(i) + 0.5f) / static_cast<float>(fadeFrames);
        next[2 * i] = in[2 * i] + w * (next[2 * i] - in[2 * i]);
        next[2 * i + 1] = in[2 * i + 1] + w * (next[2 * i + 1] - in[2 * i + 1]);
    }
    return next;
}

// Closes a window of the level watch: returns the frames to drop, and moves
// the raise the underruns earned.
std::uint32_t endWindow(RingLevelWatch& watch, const RingLevel& level) {
    std::uint32_t drop = 0;
    // A burst longer than a window is a backlog, not the server's rhythm.
    const std::uint32_t burst = watch.largestBurst <= level.windowFrames ? watch.largestBurst : 0;
    const std::uint32_t keep = std::max(level.keepFrames, burst);
    const std::uint32_t limit = keep + (level.limitFrames - level.keepFrames);
    watch.largestBurst = 0;
    if (watch.underran) {
        const std::uint32_t raised =
            std::min(watch.raiseFrames + level.keepFrames, level.maxRaiseFrames);
        watch.lastRaise = raised - watch.raiseFrames;
        watch.raiseFrames = raised;
    } else {
        if (watch.lowestSurplus > limit + watch.raiseFrames) {
            // A backlog right after underruns: the capture side had stalled
            // too, so they tell nothing of the jitter, and their raise goes.
            watch.raiseFrames -= watch.lastRaise;
            drop = watch.lowestSurplus - keep - watch.raiseFrames;
        }
        watch.raiseFrames -= std::min(watch.raiseFrames, level.keepFrames / raiseDecayWindows);
        watch.lastRaise = 0;
    }
    watch.lowestSurplus = std::numeric_limits<std::uint32_t>::max();
    watch.renderedFrames = 0;
    watch.underran = false;
    return drop;
}

} // namespace

RingLevel RingLevel::forSampleRate(double sampleRate) {
    const auto frames = [sampleRate](double seconds) {
        return static_cast<std::uint32_t>(std::lround(sampleRate * seconds));
    };
    return RingLevel{frames(ringKeepSeconds), frames(ringKeepSeconds + ringSlackSeconds),
                     frames(levelWindowSeconds), frames(maxRaiseSeconds)};
}

void renderFromRing(MirrorBuffer& ring, const AudioParameters& parameters, bool& isSilence,
                    std::uint32_t frameCount, std::span<AudioBuffer> output, const RingLevel& level,
                    RingLevelWatch& watch, RenderCounters& counters) {
    const std::uint32_t channelBytes = frameCount * 4;
    std::uint32_t stored = 0;
    const void* source = MirrorBufferGetReadPointer(&ring, &stored);
    const std::uint32_t storedFrames = stored / frameBytes;
    watch.largestBurst =
        std::max(watch.largestBurst, storedFrames - std::min(storedFrames, watch.leftFrames));
    watch.leftFrames = storedFrames;
    if (output.size() < 2 || !usable(output[0], channelBytes) || !usable(output[1], channelBytes) ||
        !source || stored / frameBytes < frameCount) {
        for (AudioBuffer& buffer : output) {
            if (buffer.data) {
                std::memset(buffer.data, 0, std::min(channelBytes, buffer.dataByteSize));
            }
        }
        isSilence = true;
        counters.underruns.fetch_add(1, std::memory_order_relaxed);
        watch.lowestSurplus = 0;
        watch.underran = true;
        return;
    }
    const auto* in = static_cast<const float*>(source);
    std::uint32_t dropped = 0;
    watch.lowestSurplus = std::min(watch.lowestSurplus, stored / frameBytes - frameCount);
    watch.renderedFrames += frameCount;
    if (watch.renderedFrames >= level.windowFrames) {
        // The surplus now is at least the lowest one, so all of the drop is there.
        dropped = endWindow(watch, level);
        if (dropped > 0) {
            in = dropBacklog(in, dropped, std::min(frameCount, trimCrossfadeFrames));
            counters.trims.fetch_add(1, std::memory_order_relaxed);
        }
    }

    const AudioParameters::Values values = parameters.snapshot();
    const float sum = values.vocalMono + values.vocalKaraoke;
    const float diff = values.vocalMono - values.vocalKaraoke;
    const float scale = sum > 1.0f ? 1.0f / sum : 1.0f;
    const Blend blend{sum * scale, diff * scale, values.volume};
    const bool passThrough = sum <= std::numeric_limits<float>::min();

    auto* left = static_cast<float*>(output[0].data);
    auto* right = static_cast<float*>(output[1].data);
    if (passThrough) {
        values.dualMonoOutput ? mix<true, true>(in, left, right, frameCount, blend)
                              : mix<true, false>(in, left, right, frameCount, blend);
    } else {
        values.dualMonoOutput ? mix<false, true>(in, left, right, frameCount, blend)
                              : mix<false, false>(in, left, right, frameCount, blend);
    }

    MirrorBufferConsume(&ring, (dropped + frameCount) * frameBytes);
    watch.leftFrames = storedFrames - dropped - frameCount;
    isSilence = false;
}

platform::sound::RenderBlock makeRenderBlock(std::shared_ptr<RingBuffer> ring,
                                             std::shared_ptr<const AudioParameters> parameters,
                                             RingLevel level,
                                             std::shared_ptr<RenderCounters> counters) {
    return [ring = std::move(ring), parameters = std::move(parameters), level,
            watch = RingLevelWatch{}, counters = std::move(counters)](
               bool& isSilence, std::uint32_t frameCount, std::span<AudioBuffer> output) mutable {
        renderFromRing(ring->buffer(), *parameters, isSilence, frameCount, output, level, watch,
                       *counters);
    };
}

} // namespace zivra::audio
