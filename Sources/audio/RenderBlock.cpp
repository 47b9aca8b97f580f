#include "audio/RenderBlock.h"

#include <cstring>
#include <limits>

namespace zivra::audio {

using platform::sound::AudioBuffer;

namespace {

constexpr std::uint32_t frameBytes = 8;

struct Blend {
    float a;
    float b;
    float volume;
};

// One loop per combination of the two per-call switches, so each loop body is
// straight multiply-adds that the compiler vectorises.
template <bool passThrough, bool dualMono>
void mix(const float* __restrict in, float* __restrict left, float* __restrict right,
         std::uint32_t frames, Blend blend) {
    for (std::uint32_t i = 0; i < frames; ++i) {
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

} // namespace

void renderFromRing(MirrorBuffer& ring, const AudioParameters& parameters, bool& isSilence,
                    std::uint32_t frameCount, std::span<AudioBuffer> output) {
    const std::uint32_t channelBytes = frameCount * 4;
    for (AudioBuffer& buffer : output) {
        if (buffer.data) {
            std::memset(buffer.data, 0, std::min(channelBytes, buffer.dataByteSize));
        }
    }
    std::uint32_t stored = 0;
    const void* source = MirrorBufferGetReadPointer(&ring, &stored);
    if (output.size() < 2 || !usable(output[0], channelBytes) || !usable(output[1], channelBytes) ||
        !source || stored / frameBytes < frameCount) {
        isSilence = true;
        return;
    }

    const AudioParameters::Values values = parameters.snapshot();
    const float sum = values.vocalMono + values.vocalKaraoke;
    const float diff = values.vocalMono - values.vocalKaraoke;
    const float scale = sum > 1.0f ? 1.0f / sum : 1.0f;
    const Blend blend{sum * scale, diff * scale, values.volume};
    const bool passThrough = sum <= std::numeric_limits<float>::min();

    const auto* in = static_cast<const float*>(source);
    auto* left = static_cast<float*>(output[0].data);
    auto* right = static_cast<float*>(output[1].data);
    if (passThrough) {
        values.dualMonoOutput ? mix<true, true>(in, left, right, frameCount, blend)
                              : mix<true, false>(in, left, right, frameCount, blend);
    } else {
        values.dualMonoOutput ? mix<false, true>(in, left, right, frameCount, blend)
                              : mix<false, false>(in, left, right, frameCount, blend);
    }

    MirrorBufferConsume(&ring, frameCount * frameBytes);
    isSilence = false;
}

platform::sound::RenderBlock makeRenderBlock(std::shared_ptr<RingBuffer> ring,
                                             std::shared_ptr<const AudioParameters> parameters) {
    return [ring = std::move(ring), parameters = std::move(parameters)](
               bool& isSilence, std::uint32_t frameCount, std::span<AudioBuffer> output) {
        renderFromRing(ring->buffer(), *parameters, isSilence, frameCount, output);
    };
}

} // namespace zivra::audio
