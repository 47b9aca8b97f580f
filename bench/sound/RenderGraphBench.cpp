// Speed of the playback graph with the pitch shifted, against Rubber Band
// alone with the same options, over the same 10 s of music-like audio in the
// same run:
//   graph       RenderGraph::render in 10 ms requests (480 frames at 48 kHz),
//               pitch +300 cents, the source a plain copy out of memory
//               with the mixer tap installed as in the app (1024 frames)
//   reference   RubberBandStretcher, same options and pitch, fed the same audio
//               in the graph's pull blocks, output retrieved each block
// Prints the best of several rounds, their ratio, and the cost of single
// requests of the graph as a share of the time a request covers (10 ms): the
// 99.9th percentile and the worst, over the whole run and once the stretcher
// has filled (after the first second).
#include "platform/sound/RenderGraph.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

namespace zivra::platform::sound {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double rate = 48000;
constexpr std::size_t frames = 10 * 48000;
constexpr std::uint32_t requestFrames = 480;
constexpr float cents = 300;
constexpr int rounds = 5;

// Chords of harmonic tones changing every half second, a bass line, and
// noise bursts on the beat: music-like for a phase vocoder.
std::vector<float> music(int channel) {
    std::vector<float> out(frames);
    std::mt19937 noise(42 + channel);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    const double roots[] = {220, 261.63, 196, 246.94};
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const auto bar = static_cast<std::size_t>(t * 2) % 4;
        double s = 0;
        for (const double interval : {1.0, 1.26, 1.5}) {
            for (int h = 1; h <= 5; ++h) {
                s += 0.02 / h * std::sin(2 * std::numbers::pi * roots[bar] * interval * h * t);
            }
        }
        s += 0.1 * std::sin(2 * std::numbers::pi * roots[bar] / 2 * t);
        const double beat = std::fmod(t, 0.25);
        if (beat < 0.03) {
            s += 0.2 * (1 - beat / 0.03) * uniform(noise);
        }
        out[i] = static_cast<float>(channel == 0 ? s : 0.9 * s);
    }
    return out;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

volatile float keep;

} // namespace

} // namespace zivra::platform::sound

int main() {
    using namespace zivra::platform::sound;
    const std::vector<float> left = music(0), right = music(1);

    double graphBest = 1e300, worstShare = 0, worstSteadyShare = 0;
    std::vector<double> steadyShares;
    for (int round = 0; round < rounds; ++round) {
        RenderGraph graph(rate);
        std::size_t position = 0;
        graph.setSource([&](bool& silence, std::uint32_t n,
                            std::span<zivra::platform::sound::AudioBuffer> out) {
            auto* l = static_cast<float*>(out[0].data);
            auto* r = static_cast<float*>(out[1].data);
            for (std::uint32_t i = 0; i < n; ++i, ++position) {
                l[i] = left[position % frames];
                r[i] = right[position % frames];
            }
            silence = false;
        });
        graph.tap().install(1024, [](const PcmBufferView&) {});
        graph.timePitch().setPitch(cents);
        graph.timePitch().setBypass(false);
        std::vector<float> out(requestFrames * 2);
        double worst = 0, worstSteady = 0;
        const auto start = Clock::now();
        for (std::size_t done = 0; done < frames; done += requestFrames) {
            const auto before = Clock::now();
            graph.render(out.data(), requestFrames);
            const double took = seconds(Clock::now() - before);
            worst = std::max(worst, took);
            if (done >= static_cast<std::size_t>(rate)) {
                worstSteady = std::max(worstSteady, took);
                steadyShares.push_back(took / (requestFrames / rate));
            }
        }
        graphBest = std::min(graphBest, seconds(Clock::now() - start));
        worstShare = std::max(worstShare, worst / (requestFrames / rate));
        worstSteadyShare = std::max(worstSteadyShare, worstSteady / (requestFrames / rate));
        graph.tap().remove();
        keep = out[5];
    }
    std::sort(steadyShares.begin(), steadyShares.end());
    const double p999 = steadyShares[steadyShares.size() * 999 / 1000];

    double referenceBest = 1e300;
    for (int round = 0; round < rounds; ++round) {
        RubberBand::RubberBandStretcher stretcher(static_cast<std::size_t>(rate), 2,
                                                  TimePitchStage::options, 1.0,
                                                  TimePitchStage::ratioForCents(cents));
        stretcher.setMaxProcessSize(RenderGraph::pitchPullFrames);
        std::vector<float> outLeft(8192), outRight(8192);
        float* output[2] = {outLeft.data(), outRight.data()};
        const auto start = Clock::now();
        for (std::size_t done = 0; done + RenderGraph::pitchPullFrames <= frames;
             done += RenderGraph::pitchPullFrames) {
            const float* input[2] = {left.data() + done, right.data() + done};
            stretcher.process(input, RenderGraph::pitchPullFrames, false);
            while (stretcher.available() > 0) {
                stretcher.retrieve(output, std::min<std::size_t>(stretcher.available(), 8192));
            }
        }
        referenceBest = std::min(referenceBest, seconds(Clock::now() - start));
        keep = outLeft[3];
    }

    std::printf("render graph, pitch +300 cents, 10 s of audio: %.1f ms\n", graphBest * 1e3);
    std::printf("Rubber Band alone, same options and audio:     %.1f ms\n", referenceBest * 1e3);
    std::printf("ratio graph / Rubber Band: %.3f\n", graphBest / referenceBest);
    std::printf("real-time factor of the graph: %.1fx\n", 10.0 / graphBest);
    std::printf("10 ms requests after the first second: p99.9 %.1f%%, worst %.1f%% of the "
                "period (worst over the whole run %.1f%%)\n",
                p999 * 100, worstSteadyShare * 100, worstShare * 100);
}
