#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <vector>

// Steady tones as an instrument's or a voice's reach a microphone: sums of harmonics up to
// 20 kHz (and below half the sample rate), with vibrato and white noise where a kind asks for
// them, for the pitch detection's sweep test and its benchmark. Pure functions: any thread,
// nothing shared, nothing thrown but std::bad_alloc.
namespace zivra::tuner {

struct ToneKind {
    const char* name;
    // The amplitude of harmonic k (1 is the fundamental) that sounds at `frequency` Hz.
    double (*amplitude)(int harmonic, double frequency);
    // The depth of a 5.5 Hz vibrato, in cents either way.
    double vibratoCents = 0;
    // White noise, as its RMS against the tone's (1 is a signal-to-noise ratio of 0 dB).
    double noiseRatio = 0;
    // The lowest note number played (28 is E1). Below the searched lags a voice's formant, not
    // its fundamental, is what repeats.
    int lowestNote = 28;
};

inline constexpr ToneKind toneKinds[] = {
    {"sine", [](int k, double) { return k == 1 ? 1.0 : 0.0; }},
    {"1/k", [](int k, double) { return 1.0 / k; }},
    {"1/k^2", [](int k, double) { return 1.0 / (k * k); }},
    // Brass-like: harmonics 2 to 4 louder than the fundamental, the third the loudest.
    {"brass", [](int k, double) { return k * std::exp(-k / 2.5); }},
};

// Tones whose fundamental is weak, missing or buried, as a singer or a small microphone gives
// them.
inline constexpr ToneKind hardToneKinds[] = {
    // The second harmonic the loudest, the ones above falling off steeply.
    {"h2", [](int k, double) { return k == 1   ? 0.3
                                      : k == 2 ? 1.0
                                               : 1.0 / (k * k); }},
    // A hummed or sung "oo" through a small microphone: a 4th-order high-pass at 300 Hz and a
    // formant at 800 Hz (80 Hz wide) lift the second or third harmonic of middle notes over
    // the fundamental; a vibrato of 25 cents; sung from C2 up.
    {"voice",
     [](int k, double frequency) {
         const double highPass = std::pow(frequency, 4) / std::pow(frequency * frequency + 9e4, 2);
         const double formant = 1 / std::sqrt(1 + std::pow((frequency - 800) / 40, 2));
         return highPass * (1 + 10 * formant) / k;
     },
     25, 0, 36},
    {"no h1", [](int k, double) { return k == 1 ? 0.0 : 1.0 / k; }},
    {"noisy", [](int k, double) { return 1.0 / k; }, 0, 1},
};

// `count` samples of the tone at `frequency`, starting `startCycles` periods in (and as far
// into the vibrato's cycle); the noise is the same for the same frequency and start.
inline std::vector<float> harmonicTone(const ToneKind& kind, double frequency, double rate,
                                       double startCycles, std::size_t count = 4096) {
    const int harmonics = static_cast<int>(std::ceil(std::min(20000.0, rate / 2) / frequency)) - 1;
    std::vector<double> amplitudes(static_cast<std::size_t>(std::max(harmonics, 0)));
    for (int k = 1; k <= harmonics; ++k) {
        amplitudes[static_cast<std::size_t>(k - 1)] = kind.amplitude(k, k * frequency);
    }
    // The frequency swings by `depth` of itself; its integral gives the cycles so far.
    const double depth = std::exp2(kind.vibratoCents / 1200) - 1;
    const double vibrato = 2 * std::numbers::pi * 5.5;
    const double vibratoStart = 2 * std::numbers::pi * startCycles;
    std::vector<double> tone(count);
    double power = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double swing =
            depth * (std::cos(vibratoStart) - std::cos(vibrato * t + vibratoStart));
        const double angle =
            2 * std::numbers::pi * (startCycles + frequency * (t + swing / vibrato));
        // sin(k * angle) by the recurrence sin((k + 1)a) = 2 cos(a) sin(ka) - sin((k - 1)a).
        const double twiceCosine = 2 * std::cos(angle);
        double previous = 0;
        double current = std::sin(angle);
        for (const double amplitude : amplitudes) {
            tone[i] += amplitude * current;
            const double next = twiceCosine * current - previous;
            previous = current;
            current = next;
        }
        power += tone[i] * tone[i];
    }
    // Uniform noise in [-a, a] has the RMS a / sqrt(3).
    const double noise =
        kind.noiseRatio *
        std::sqrt(3 * power / static_cast<double>(std::max<std::size_t>(count, 1)));
    auto state = static_cast<std::uint32_t>(frequency * 1000 + startCycles * 7919) | 1u;
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const double uniform = static_cast<double>(state) / 2147483648.0 - 1;
        samples[i] = static_cast<float>(0.3 * (tone[i] + noise * uniform));
    }
    return samples;
}

} // namespace zivra::tuner
