#include "platform/sound/RenderGraph.h"

#include <algorithm>

namespace zivra::platform::sound {
namespace {

// At most this many source blocks are pulled for one output block while the
// time-pitch stage fills its latency; the rest of such a block is silent.
constexpr int maxPullsPerBlock = 128;

} // namespace

RenderGraph::RenderGraph(double sampleRate)
    : timePitch_(sampleRate, blockFrames), tap_(sampleRate), pace_(sampleRate),
      source0_(blockFrames), source1_(blockFrames), mix0_(blockFrames), mix1_(blockFrames) {}

void RenderGraph::render(float* interleaved, std::uint32_t frames) {
    while (frames > 0) {
        const std::uint32_t n = std::min(frames, blockFrames);
        renderBlock(interleaved, n);
        interleaved += std::size_t{n} * 2;
        frames -= n;
    }
}

void RenderGraph::renderPaced(float* interleaved, std::uint32_t frames,
                              RenderPace::Clock::time_point now, std::uint32_t bufferFrames) {
    const std::uint32_t rendered = pace_.grant(frames, now, bufferFrames);
    render(interleaved, rendered);
    std::fill(interleaved + std::size_t{rendered} * 2, interleaved + std::size_t{frames} * 2, 0.0f);
}

void RenderGraph::pullSource(std::uint32_t frames) {
    sourceBuffers_[0] = {1, frames * 4u, source0_.data()};
    sourceBuffers_[1] = {1, frames * 4u, source1_.data()};
    bool silence = true;
    if (source_) {
        silence = false;
        source_(silence, frames, std::span<AudioBuffer>(sourceBuffers_, 2));
    }
    // A source with nothing to give may leave its buffers as they were.
    if (silence) {
        std::fill_n(source0_.begin(), frames, 0.0f);
        std::fill_n(source1_.begin(), frames, 0.0f);
    }
}

void RenderGraph::renderBlock(float* interleaved, std::uint32_t frames) {
    const float* left = source0_.data();
    const float* right = source1_.data();
    if (timePitch_.beginBlock()) {
        pullSource(frames);
    } else {
        const float* input[2] = {source0_.data(), source1_.data()};
        for (int pulls = 0; timePitch_.buffered() < frames && pulls < maxPullsPerBlock; ++pulls) {
            pullSource(pitchPullFrames);
            timePitch_.process(input, pitchPullFrames);
        }
        float* output[2] = {mix0_.data(), mix1_.data()};
        const std::uint32_t got = timePitch_.read(output, frames);
        std::fill(mix0_.begin() + got, mix0_.begin() + frames, 0.0f);
        std::fill(mix1_.begin() + got, mix1_.begin() + frames, 0.0f);
        left = mix0_.data();
        right = mix1_.data();
    }
    tap_.push(left, right, frames);
    const float volume = volume_.load(std::memory_order_relaxed);
    for (std::uint32_t i = 0; i < frames; ++i) {
        interleaved[2 * i] = volume * left[i];
        interleaved[2 * i + 1] = volume * right[i];
    }
}

} // namespace zivra::platform::sound
