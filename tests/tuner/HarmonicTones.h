#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <vector>

// Steady tones as an instrument's reach a microphone: sums of harmonics up to 20 kHz (and below
// half the sample rate), for the pitch detection's sweep test and its benchmark. Pure
// functions: any thread, nothing shared, nothing thrown but std::bad_alloc.
namespace zivra::tuner {

struct ToneKind {
    const char* name;
    // The amplitude of harmonic k (1 is the fundamental).
    double (*amplitude)(int harmonic);
};

inline constexpr ToneKind toneKinds[] = {
    {"sine", [](int k) { return k == 1 ? 1.0 : 0.0; }},
    {"1/k", [](int k) { return 1.0 / k; }},
    {"1/k^2", [](int k) { return 1.0 / (k * k); }},
    // Brass-like: harmonics 2 to 4 louder than the fundamental, the third the loudest.
    {"brass", [](int k) { return k * std::exp(-k / 2.5); }},
};

// `count` samples of the tone at `frequency`, starting `startCycles` periods in.
inline std::vector<float> harmonicTone(const ToneKind& kind, double frequency, double rate,
                                       double startCycles, std::size_t count = 4096) {
    const int harmonics = static_cast<int>(std::ceil(std::min(20000.0, rate / 2) / frequency)) - 1;
    std::vector<double> amplitudes(static_cast<std::size_t>(std::max(harmonics, 0)));
    for (int k = 1; k <= harmonics; ++k) {
        amplitudes[static_cast<std::size_t>(k - 1)] = kind.amplitude(k);
    }
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double angle =
            2 * std::numbers::pi * (startCycles + frequency * static_cast<double>(i) / rate);
        // sin(k * angle) by the recurrence sin((k + 1)a) = 2 cos(a) sin(ka) - sin((k - 1)a).
        const double twiceCosine = 2 * std::cos(angle);
        double previous = 0;
        double current = std::sin(angle);
        double sum = 0;
        for (const double amplitude : amplitudes) {
            sum += amplitude * current;
            const double next = twiceCosine * current - previous;
            previous = current;
            current = next;
        }
        samples[i] = static_cast<float>(0.3 * sum);
    }
    return samples;
}

} // namespace zivra::tuner
