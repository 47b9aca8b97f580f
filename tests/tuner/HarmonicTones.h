#pragma once

#include <algorithm>
#include <array>
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
    // The highest note number played (108 is C8).
    int highestNote = 108;
    // How fast a played note dies away while it is held, in dB per second (0 sustains it).
    double decayDb = 0;
    // The reverberation time of the room it is played in, in seconds (0 is dry).
    double roomSeconds = 0;
};

inline constexpr ToneKind toneKinds[] = {
    {"sine", [](int k, double) { return k == 1 ? 1.0 : 0.0; }},
    {"1/k", [](int k, double) { return 1.0 / k; }},
    {"1/k^2", [](int k, double) { return 1.0 / (k * k); }},
    // Brass-like: harmonics 2 to 4 louder than the fundamental, the third the loudest.
    {"brass", [](int k, double) { return k * std::exp(-k / 2.5); }},
};

// A hummed or sung "oo" through a small microphone: a 4th-order high-pass at 300 Hz and a
// formant at 800 Hz (80 Hz wide) lift the second or third harmonic of middle notes over the
// fundamental.
inline double sungOoh(int k, double frequency) {
    const double highPass = std::pow(frequency, 4) / std::pow(frequency * frequency + 9e4, 2);
    const double formant = 1 / std::sqrt(1 + std::pow((frequency - 800) / 40, 2));
    return highPass * (1 + 10 * formant) / k;
}

// Tones whose fundamental is weak, missing or buried, as a singer or a small microphone gives
// them.
inline constexpr ToneKind hardToneKinds[] = {
    // The second harmonic the loudest, the ones above falling off steeply.
    {"h2", [](int k, double) { return k == 1   ? 0.3
                                      : k == 2 ? 1.0
                                               : 1.0 / (k * k); }},
    // A sung "oo" with a vibrato of 25 cents, from C2 up.
    {"voice", sungOoh, 25, 0, 36},
    {"no h1", [](int k, double) { return k == 1 ? 0.0 : 1.0 / k; }},
    {"noisy", [](int k, double) { return 1.0 / k; }, 0, 1},
};

// `count` samples of uniform white noise in [-1, 1], the same for the same seed.
inline std::vector<double> whiteNoise(std::size_t count, std::uint32_t seed) {
    std::uint32_t state = seed | 1u;
    std::vector<double> samples(count);
    for (double& sample : samples) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        sample = static_cast<double>(state) / 2147483648.0 - 1;
    }
    return samples;
}

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
    const std::vector<double> uniform =
        whiteNoise(count, static_cast<std::uint32_t>(frequency * 1000 + startCycles * 7919));
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<float>(0.3 * (tone[i] + noise * uniform[i]));
    }
    return samples;
}

// Instruments and voices as a player meets them, each over its range, for playedNote: weak odd
// partials, low smooth tones, plucked and struck decays, vibrato, breath and rooms.
inline constexpr ToneKind playedKinds[] = {
    // Reeds, a steel string and a choir whose odd partials carry 3, 5, 4 and 3 % of the power.
    {.name = "bassoon",
     .amplitude = [](int k, double) { return (k % 2 ? 0.1 : 1.0) / k; },
     .lowestNote = 35,
     .highestNote = 75},
    {.name = "oboe",
     .amplitude = [](int k, double) { return (k % 2 ? 0.13 : 1.0) / k; },
     .vibratoCents = 10,
     .lowestNote = 58,
     .highestNote = 91,
     .roomSeconds = 0.6},
    {.name = "guitar",
     .amplitude = [](int k, double) { return (k % 2 ? 0.05 : 1.0) / (k * k); },
     .lowestNote = 40,
     .highestNote = 76,
     .decayDb = 15},
    {.name = "choir",
     .amplitude = [](int k, double) { return (k % 2 ? 0.1 : 1.0) / k; },
     .vibratoCents = 10,
     .lowestNote = 48,
     .highestNote = 84,
     .roomSeconds = 1},
    // Low smooth tones: a plucked double bass, a bowed cello and an "oo" sung in a room.
    {.name = "bass",
     .amplitude = [](int k, double) { return std::pow(k, -2.5); },
     .lowestNote = 35,
     .highestNote = 60,
     .decayDb = 8,
     .roomSeconds = 0.5},
    {.name = "cello",
     .amplitude = [](int k, double) { return 1.0 / (k * k); },
     .vibratoCents = 15,
     .lowestNote = 36,
     .highestNote = 81,
     .roomSeconds = 1.2},
    {.name = "ooh",
     .amplitude = sungOoh,
     .vibratoCents = 25,
     .lowestNote = 36,
     .highestNote = 79,
     .roomSeconds = 1},
    // A piano's decay, a flute's breath, a trumpet in a hall.
    {.name = "piano",
     .amplitude = [](int k, double) { return std::pow(k, -1.5); },
     .lowestNote = 35,
     .highestNote = 96,
     .decayDb = 12,
     .roomSeconds = 1},
    {.name = "flute",
     .amplitude = [](int k, double) { return k == 1   ? 1
                                             : k == 2 ? 0.3
                                                      : 0.1 / k; },
     .vibratoCents = 20,
     .noiseRatio = 0.1,
     .lowestNote = 60,
     .highestNote = 96},
    {.name = "trumpet",
     .amplitude = [](int k, double) { return k * std::exp(-k / 2.5); },
     .vibratoCents = 5,
     .lowestNote = 52,
     .highestNote = 82,
     .roomSeconds = 2},
};

// Notes below the searched range, E1 to A#1, with the partials they usually have: a piano's
// weak fundamental under strong low partials in a room, a plucked bass's strong fundamental and
// falling partials, and a synthesiser's bass whose fundamental is a tenth of the second partial.
inline constexpr ToneKind belowRangeKinds[] = {
    {.name = "piano",
     .amplitude = [](int k, double) { return (k == 1 ? 0.3 : 1.0) / k; },
     .lowestNote = 28,
     .highestNote = 34,
     .decayDb = 12,
     .roomSeconds = 1},
    {.name = "bass",
     .amplitude = [](int k, double) { return std::pow(k, -1.5); },
     .lowestNote = 28,
     .highestNote = 34,
     .decayDb = 8,
     .roomSeconds = 0.5},
    {.name = "weak h1",
     .amplitude = [](int k, double) { return k == 1 ? 0.05 : 1.0 / k; },
     .lowestNote = 28,
     .highestNote = 34},
};

// Adds to `sound` its reverberation in a room whose echoes die away by 60 dB in `seconds`, at
// the energy of the direct sound: four parallel comb filters, then two all-pass filters.
inline void addRoom(std::vector<double>& sound, double rate, double seconds) {
    std::vector<double> wet(sound.size());
    for (const double delaySeconds : {0.0297, 0.0371, 0.0411, 0.0437}) {
        const auto delay = static_cast<std::size_t>(delaySeconds * rate);
        const double feedback = std::pow(10.0, -3 * delaySeconds / seconds);
        std::vector<double> comb(sound.size());
        for (std::size_t i = delay; i < sound.size(); ++i) {
            comb[i] = sound[i - delay] + feedback * comb[i - delay];
            wet[i] += comb[i];
        }
    }
    for (const double delaySeconds : {0.005, 0.0017}) {
        const auto delay = static_cast<std::size_t>(delaySeconds * rate);
        const std::vector<double> in = wet;
        for (std::size_t i = delay; i < wet.size(); ++i) {
            wet[i] = -0.7 * in[i] + in[i - delay] + 0.7 * wet[i - delay];
        }
    }
    double direct = 0;
    double reverberant = 0;
    for (std::size_t i = 0; i < sound.size(); ++i) {
        direct += sound[i] * sound[i];
        reverberant += wet[i] * wet[i];
    }
    const double gain = reverberant > 0 ? std::sqrt(direct / reverberant) : 0;
    for (std::size_t i = 0; i < sound.size(); ++i) {
        sound[i] += gain * wet[i];
    }
}

// One note of `kind` as the tuner hears it played, and the frames at which it starts and stops
// sounding: silence up to the onset, `onset` of a 4096-frame buffer in; the attack; the tone
// held (or dying away) for half a second; a 50 ms release; then a quarter second of the room's
// tail; white noise 60 dB below the note throughout.
struct PlayedNote {
    std::vector<float> samples;
    std::size_t end = 0;
    std::size_t start = 0;
};

// How a note starts: its level rising evenly from nothing over `riseSeconds`, and a burst of
// white noise (a hammer, a pick, a tongued start) dying away evenly over its first 5 ms,
// `burstRatio` of the tone's RMS at its start.
struct Attack {
    double riseSeconds = 0.02;
    double burstRatio = 0;
};

inline PlayedNote playedNote(const ToneKind& kind, double frequency, double rate, double onset,
                             Attack attackShape = {}) {
    const auto frames = [rate](double seconds) { return static_cast<std::size_t>(seconds * rate); };
    const auto start = static_cast<std::size_t>(onset * 4096);
    const std::size_t attack = std::max<std::size_t>(1, frames(attackShape.riseSeconds));
    const std::size_t release = frames(0.55);
    const std::size_t end = frames(0.6);
    const std::vector<float> tone = harmonicTone(kind, frequency, rate, onset, end);
    std::vector<double> sound(start + frames(0.85));
    double power = 0;
    for (std::size_t i = 0; i < end; ++i) {
        const double t = static_cast<double>(i) / rate;
        double gain = std::pow(10.0, -kind.decayDb * t / 20);
        gain *= std::min(1.0, static_cast<double>(i) / static_cast<double>(attack));
        gain *= std::min(1.0, static_cast<double>(end - i) / static_cast<double>(end - release));
        sound[start + i] = tone[i] * gain;
        power += static_cast<double>(tone[i]) * tone[i];
    }
    const double rms = std::sqrt(power / static_cast<double>(end));
    const std::size_t burst = frames(0.005);
    const std::vector<double> pick = whiteNoise(burst, static_cast<std::uint32_t>(frequency * 31));
    for (std::size_t i = 0; i < burst; ++i) {
        sound[start + i] += std::sqrt(3.0) * attackShape.burstRatio * rms * pick[i] *
                            static_cast<double>(burst - i) / static_cast<double>(burst);
    }
    if (kind.roomSeconds > 0) {
        addRoom(sound, rate, kind.roomSeconds);
    }
    const double floor = 1e-3 * std::sqrt(3 * power / static_cast<double>(end));
    const std::vector<double> noise =
        whiteNoise(sound.size(), static_cast<std::uint32_t>(frequency * 977 + onset * 7919));
    PlayedNote note{std::vector<float>(sound.size()), start + end, start};
    for (std::size_t i = 0; i < sound.size(); ++i) {
        note.samples[i] = static_cast<float>(sound[i] + floor * noise[i]);
    }
    return note;
}

// A string plucked at `frequency` Hz and left to ring for `seconds`, as the Karplus-Strong model
// gives it: a delay line of whole samples filled with white noise, fed back through the average
// of two neighbouring samples (a period half a sample longer than the line) with a loss of 0.4 %
// a pass. Its highest partials die away first, the higher the note and the lower the rate the
// faster; what the noise held as an offset dies away slowest.
inline std::vector<float> pluckedString(double frequency, double rate, double seconds) {
    const auto delay = static_cast<std::size_t>(std::lround(rate / frequency - 0.5));
    std::vector<double> line = whiteNoise(delay, static_cast<std::uint32_t>(frequency * 131));
    std::vector<float> samples(static_cast<std::size_t>(seconds * rate));
    double previous = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double out = line[i % delay];
        line[i % delay] = 0.996 * 0.5 * (out + previous);
        previous = out;
        samples[i] = static_cast<float>(0.5 * out);
    }
    return samples;
}

// What a microphone hears between notes: white noise, pink noise (falling by 3 dB an octave) or
// noise low-passed by one pole at 500 Hz.
enum class NoiseColour { white, pink, lowPassed };

inline std::vector<float> noiseAlone(NoiseColour colour, double rate, std::size_t count,
                                     std::uint32_t seed) {
    const std::vector<double> white = whiteNoise(count, seed);
    const double smoothing = 1 - std::exp(-2 * std::numbers::pi * 500 / rate);
    std::array<double, 3> poles{};
    double lowPassed = 0;
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        double value = white[i];
        if (colour == NoiseColour::pink) {
            // Three one-pole filters summed (P. Kellet's economical pink filter).
            poles[0] = 0.99765 * poles[0] + white[i] * 0.0990460;
            poles[1] = 0.96300 * poles[1] + white[i] * 0.2965164;
            poles[2] = 0.57000 * poles[2] + white[i] * 1.0526913;
            value = poles[0] + poles[1] + poles[2] + white[i] * 0.1848;
        } else if (colour == NoiseColour::lowPassed) {
            lowPassed += smoothing * (white[i] - lowPassed);
            value = lowPassed;
        }
        samples[i] = static_cast<float>(0.1 * value);
    }
    return samples;
}

} // namespace zivra::tuner
