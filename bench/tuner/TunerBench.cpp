// The tuner's analysis of one microphone buffer (4096 samples at 48 kHz), measured as a share of
// the buffer's duration (85.3 ms): the time the main thread spends per buffer against the time
// the buffer takes to arrive. Prints the best time of each round, the minimum and maximum share
// over the rounds, then the accuracy table: what the tuner publishes for sines and for
// harmonic-rich tones (a band-limited sawtooth: every harmonic below 20 kHz at 1/k of the
// fundamental, as an instrument's tone reaches a microphone) from 60 to 2500 Hz, each at 16
// starting phases.
#include "tuner/NoteNames.h"
#include "tuner/PitchDetection.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <optional>
#include <vector>

namespace zivra::tuner {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double sampleRate = 48000;
constexpr std::size_t bufferFrames = 4096;
constexpr int rounds = 7;
constexpr int runsPerRound = 200;
constexpr int phases = 16;

constexpr double highestHarmonic = 20000;

// A wave as the sum of its harmonics: amplitude(k) for harmonic k, up to 20 kHz.
using Wave = double (*)(int harmonic);

double sine(int harmonic) {
    return harmonic == 1 ? 1 : 0;
}

double sawtooth(int harmonic) {
    return 0.6 / harmonic;
}

std::vector<float> buffer(Wave wave, double frequency, double startCycles) {
    std::vector<float> samples(bufferFrames);
    for (int k = 1; k * frequency < highestHarmonic; ++k) {
        const double amplitude = wave(k);
        if (amplitude == 0) {
            continue;
        }
        for (std::size_t i = 0; i < bufferFrames; ++i) {
            const double cycles = startCycles + frequency * static_cast<double>(i) / sampleRate;
            samples[i] +=
                static_cast<float>(0.5 * amplitude * std::sin(2 * std::numbers::pi * k * cycles));
        }
    }
    return samples;
}

double centsBetween(double published, double truth) {
    return 1200 * std::log2(published / truth);
}

volatile double sink;

void measureSpeed() {
    const std::vector<float> samples = buffer(sawtooth, 196, 0.3);
    const double bufferNanoseconds = bufferFrames / sampleRate * 1e9;
    double lowest = 1e300;
    double highest = 0;
    std::printf("analysis of %zu samples at %.0f Hz (buffer %.1f ms)\n", bufferFrames, sampleRate,
                bufferNanoseconds / 1e6);
    for (int round = 0; round < rounds; ++round) {
        double fastest = 1e300;
        for (int run = 0; run < runsPerRound; ++run) {
            const auto start = Clock::now();
            sink = zivra::tuner::detectFrequency(samples, sampleRate).value_or(0);
            fastest = std::min(
                fastest, std::chrono::duration<double, std::nano>(Clock::now() - start).count());
        }
        const double share = fastest / bufferNanoseconds;
        lowest = std::min(lowest, share);
        highest = std::max(highest, share);
        std::printf("  round %d: %.3f ms = %.2f %% of the buffer\n", round + 1, fastest / 1e6,
                    100 * share);
    }
    std::printf("share of the buffer's duration: min %.2f %%, max %.2f %%\n\n", 100 * lowest,
                100 * highest);
}

void accuracyRow(const char* name, Wave wave, double frequency) {
    int published = 0;
    int rightNote = 0;
    double smallest = 1e300;
    double largest = -1e300;
    const std::string truth = zivra::tuner::readingForFrequency(frequency)->note;
    for (int phase = 0; phase < phases; ++phase) {
        const std::optional<double> heard = zivra::tuner::detectFrequency(
            buffer(wave, frequency, static_cast<double>(phase) / phases), sampleRate);
        const auto reading = heard ? zivra::tuner::readingForFrequency(*heard) : std::nullopt;
        if (!reading) {
            continue;
        }
        ++published;
        rightNote += reading->note == truth;
        smallest = std::min(smallest, centsBetween(*heard, frequency));
        largest = std::max(largest, centsBetween(*heard, frequency));
    }
    if (published == 0) {
        std::printf("| %-8s | %7.2f | %-4s | %5d/%d | %10s | %27s |\n", name, frequency,
                    truth.c_str(), 0, phases, "-", "-");
        return;
    }
    std::printf("| %-8s | %7.2f | %-4s | %5d/%d | %7d/%d | %+12.2f .. %+11.2f |\n", name, frequency,
                truth.c_str(), published, phases, rightNote, published, smallest, largest);
}

void accuracyTable() {
    const double frequencies[] = {60,     65.41, 82.41,  98,     110,    130.81, 146.83,
                                  164.81, 196,   246.94, 261.63, 329.63, 440,    523.25,
                                  659.26, 880,   1046.5, 1318.5, 1760,   2093,   2500};
    std::printf(
        "| tone     |   Hz    | note | published | right note | error in cents (min .. max) |\n");
    std::printf(
        "|----------|---------|------|-----------|------------|-----------------------------|\n");
    for (const double frequency : frequencies) {
        accuracyRow("sine", sine, frequency);
    }
    for (const double frequency : frequencies) {
        accuracyRow("sawtooth", sawtooth, frequency);
    }
}

} // namespace

} // namespace zivra::tuner

int main() {
    using namespace zivra::tuner;
    measureSpeed();
    accuracyTable();
    return 0;
}
