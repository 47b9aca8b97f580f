// The tuner's analysis of one microphone buffer (4096 samples at 48 kHz), measured as a share of
// the buffer's duration (85.3 ms): the time the main thread spends per buffer against the time
// the buffer takes to arrive. Prints the best time of each round, the minimum and maximum share
// over the rounds, then the accuracy table: semitone sweeps up to C8 (from E1, the voice from C2)
// of each kind of tone, the instruments' and those with a weak, missing or noise-buried
// fundamental, at 48 and 44.1 kHz, each note at 8 starting phases; per kind and rate, the notes
// between which it names a note, how many buffers it names, the error in cents of those, and how
// many name another note than the one played.
#include "tests/tuner/HarmonicTones.h"
#include "tuner/NoteNames.h"
#include "tuner/PitchDetection.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zivra::tuner {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double sampleRate = 48000;
constexpr std::size_t bufferFrames = 4096;
constexpr int rounds = 7;
constexpr int runsPerRound = 200;
constexpr int phases = 8;
constexpr int c8 = 108;

volatile double sink;

void measureSpeed() {
    const std::vector<float> samples = harmonicTone(toneKinds[1], 196, sampleRate, 0.3);
    const double bufferNanoseconds = bufferFrames / sampleRate * 1e9;
    double lowest = 1e300;
    double highest = 0;
    std::printf("analysis of %zu samples at %.0f Hz (buffer %.1f ms)\n", bufferFrames, sampleRate,
                bufferNanoseconds / 1e6);
    for (int round = 0; round < rounds; ++round) {
        double fastest = 1e300;
        for (int run = 0; run < runsPerRound; ++run) {
            const auto start = Clock::now();
            sink = detectFrequency(samples, sampleRate).value_or(0);
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

void accuracyRow(const ToneKind& kind, double rate) {
    int named = 0;
    int wrong = 0;
    int lowestNote = c8 + 1;
    int highestNote = kind.lowestNote - 1;
    double smallest = 1e300;
    double largest = -1e300;
    for (int note = kind.lowestNote; note <= c8; ++note) {
        const double frequency = 440 * std::exp2((note - 69) / 12.0);
        for (int phase = 0; phase < phases; ++phase) {
            const std::optional<double> heard = detectFrequency(
                harmonicTone(kind, frequency, rate, static_cast<double>(phase) / phases), rate);
            const auto reading = heard ? readingForFrequency(*heard) : std::nullopt;
            if (!reading) {
                continue;
            }
            ++named;
            if (reading->note != noteName(note)) {
                ++wrong;
                continue;
            }
            lowestNote = std::min(lowestNote, note);
            highestNote = std::max(highestNote, note);
            const double cents = 1200 * std::log2(*heard / frequency);
            smallest = std::min(smallest, cents);
            largest = std::max(largest, cents);
        }
    }
    // Without a right reading the range and the cents stay empty.
    std::string range = "-";
    char cents[32] = "-";
    if (named > wrong) {
        range = noteName(lowestNote) + " .. " + noteName(highestNote);
        std::snprintf(cents, sizeof cents, "%+6.1f .. %+6.1f", smallest, largest);
    }
    std::printf("| %-6s | %7.0f | %-10s | %4d/%d | %-16s | %5d |\n", kind.name, rate, range.c_str(),
                named, (c8 - kind.lowestNote + 1) * phases, cents, wrong);
}

void accuracyTable() {
    std::printf("| tone   | rate Hz | named      | buffers  | cents min .. max | wrong |\n");
    std::printf("|--------|---------|------------|----------|------------------|-------|\n");
    for (const auto& kinds : {std::span(toneKinds), std::span(hardToneKinds)}) {
        for (const ToneKind& kind : kinds) {
            for (const double rate : {48000.0, 44100.0}) {
                accuracyRow(kind, rate);
            }
        }
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
