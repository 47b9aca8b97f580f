// Speed of the engine's real-time paths, each against a plain copy of the same
// bytes measured in the same run:
//   render  the render block over one second of 48 kHz stereo in 512-frame
//           calls (vocal removal on) vs a plain hand-written loop doing the
//           same de-interleave, blend and scale, and vs memcpy of those bytes
//   ring    blocks written into and read out of the mirrored ring vs the same
//           two memcpy calls between plain buffers
// Prints the best of several rounds and the ratios.
#include "audio/RenderBlock.h"
#include "audio/RingBuffer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace zivra::audio {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t sampleRate = 48000;
constexpr std::uint32_t blockFrames = 512;
constexpr std::uint32_t frameBytes = 8;
constexpr int rounds = 100;

// Best time of `rounds` runs of `work`, in nanoseconds.
double best(const std::function<void()>& work) {
    double fastest = 1e300;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        work();
        fastest = std::min(fastest,
                           std::chrono::duration<double, std::nano>(Clock::now() - start).count());
    }
    return fastest;
}

volatile float sink;

} // namespace

} // namespace zivra::audio

int main() {
    using namespace zivra::audio;
    RingBuffer ring(0x400000);
    MirrorBuffer& buffer = ring.buffer();
    std::vector<float> source(2 * sampleRate);
    for (std::size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<float>((i * 7919) % 2000) / 1000.0f - 1.0f;
    }
    std::uint32_t space = 0;
    std::memcpy(MirrorBufferGetWritePointer(&buffer, &space), source.data(), source.size() * 4);

    AudioParameters parameters;
    parameters.setBlend(0.25f, 0.75f);
    parameters.setVolume(0.9f);
    std::vector<float> left(blockFrames), right(blockFrames), copy(2 * blockFrames);
    std::array<zivra::platform::sound::AudioBuffer, 2> output{
        zivra::platform::sound::AudioBuffer{1, blockFrames * 4, left.data()},
        zivra::platform::sound::AudioBuffer{1, blockFrames * 4, right.data()}};
    const std::uint32_t calls = sampleRate / blockFrames;
    const RingLevel level = RingLevel::forSampleRate(sampleRate);
    RingLevelWatch watch;
    RenderCounters counters;

    // Each call makes its block available again after reading it, so the
    // second of audio goes round the ring without being rewritten.
    const double render = best([&] {
        for (std::uint32_t i = 0; i < calls; ++i) {
            MirrorBufferProduce(&buffer, blockFrames * frameBytes);
            bool silence = false;
            renderFromRing(buffer, parameters, silence, blockFrames, output, level, watch,
                           counters);
        }
        sink = left[7] + right[9];
    });
    // The same arithmetic as the render block with vocal removal on, written
    // as plainly as possible: what the block's own overhead is measured by.
    const double renderPlain = best([&] {
        const float a = 0.25f + 0.75f, b = 0.25f - 0.75f, volume = 0.9f;
        for (std::uint32_t i = 0; i < calls; ++i) {
            MirrorBufferProduce(&buffer, blockFrames * frameBytes);
            std::uint32_t available = 0;
            const float* __restrict in =
                static_cast<const float*>(MirrorBufferGetReadPointer(&buffer, &available));
            float* __restrict l = left.data();
            float* __restrict r = right.data();
            for (std::uint32_t k = 0; k < blockFrames; ++k) {
                const float side = (in[2 * k] - in[2 * k + 1]) * 0.5f;
                l[k] = volume * (a * side);
                r[k] = volume * (b * side);
            }
            MirrorBufferConsume(&buffer, blockFrames * frameBytes);
        }
        sink = left[7] + right[9];
    });
    const double renderCopy = best([&] {
        for (std::uint32_t i = 0; i < calls; ++i) {
            MirrorBufferProduce(&buffer, blockFrames * frameBytes);
            std::uint32_t available = 0;
            const void* in = MirrorBufferGetReadPointer(&buffer, &available);
            std::memcpy(copy.data(), in, blockFrames * frameBytes);
            MirrorBufferConsume(&buffer, blockFrames * frameBytes);
        }
        sink = copy[7];
    });

    ring.clear();
    constexpr std::uint32_t chunk = 4096;
    constexpr std::uint64_t total = 64ull << 20;
    std::vector<unsigned char> in(chunk, 1), out(chunk), middle(chunk);
    const double ringTime = best([&] {
        for (std::uint64_t moved = 0; moved < total; moved += chunk) {
            std::uint32_t n = 0;
            std::memcpy(MirrorBufferGetWritePointer(&buffer, &n), in.data(), chunk);
            MirrorBufferProduce(&buffer, chunk);
            std::memcpy(out.data(), MirrorBufferGetReadPointer(&buffer, &n), chunk);
            MirrorBufferConsume(&buffer, chunk);
        }
        sink = out[5];
    });
    const double memcpyTime = best([&] {
        for (std::uint64_t moved = 0; moved < total; moved += chunk) {
            std::memcpy(middle.data(), in.data(), chunk);
            std::memcpy(out.data(), middle.data(), chunk);
        }
        sink = out[5];
    });

    std::printf("render 1 s of 48 kHz stereo: %.1f us, plain loop: %.1f us, ratio %.2f; "
                "copy of the same bytes: %.1f us, ratio %.2f\n",
                render / 1000, renderPlain / 1000, render / renderPlain, renderCopy / 1000,
                render / renderCopy);
    std::printf("ring 64 MiB in 4 KiB blocks: %.1f us, memcpy: %.1f us, ratio %.2f\n",
                ringTime / 1000, memcpyTime / 1000, ringTime / memcpyTime);
    return 0;
}
