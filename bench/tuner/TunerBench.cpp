// The tuner's analysis of one microphone buffer (4096 samples at 48 kHz), measured as a share of
// the buffer's duration (85.3 ms): the time the main thread spends per buffer against the time
// the buffer takes to arrive. Prints the best time of each round, the minimum and maximum share
// over the rounds, then the accuracy table: semitone sweeps up to C8 (from E1, the voice from C2)
// of each kind of tone, the instruments' and those with a weak, missing or noise-buried
// fundamental, at 48 and 44.1 kHz, each note at 8 starting phases; per kind and rate, the notes
// between which it names a note, how many buffers it names, the error in cents of those, and how
// many name another note than the one played. Then the instruments played as the tuner hears
// them, at 48, 44.1 and 16 kHz: per kind and rate, the buffers from each note's attack to its
// release, the share that names the note played, how many name another one, and the buffers of
// the room's tail after it with those naming another note; last, the share of buffers of noise
// alone (white, pink, low-passed) that name a note. Then the notes below the searched range (E1
// to A#1) and the buffers naming their octave or a neighbour of it; the instruments' attacks
// (rising over 10 to 100 ms, with and without a burst of noise) and how many of their first
// buffers read an octave low or lower, with the held and tail buffers after them; and
// Karplus-Strong plucked strings from E2 to C6 left to ring.
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

// The notes of each played kind at one rate, fed as the tuner is fed: consecutive 4096-frame
// buffers from the one that holds the attack to the end of the room's tail.
struct PlayedTally {
    int buffers = 0;
    int right = 0;
    int wrong = 0;
    // The buffers after the note's release, in its room's tail, and those naming another note.
    int tail = 0;
    int tailWrong = 0;
};

PlayedTally playedRow(const ToneKind& kind, double rate) {
    PlayedTally tally;
    for (int note = kind.lowestNote; note <= kind.highestNote; ++note) {
        const double frequency = 440 * std::exp2((note - 69) / 12.0);
        const auto [sound, noteEnd, noteStart] =
            playedNote(kind, frequency, rate, std::fmod(note * 0.37, 1.0));
        for (std::size_t start = 0; start + bufferFrames <= sound.size(); start += bufferFrames) {
            const std::optional<double> heard =
                detectFrequency(std::span(sound).subspan(start, bufferFrames), rate);
            const auto reading = heard ? readingForFrequency(*heard) : std::nullopt;
            const bool wrong = reading && reading->note != noteName(note);
            if (start >= noteEnd) {
                ++tally.tail;
                tally.tailWrong += wrong;
                continue;
            }
            ++tally.buffers;
            tally.right += reading && reading->note == noteName(note);
            tally.wrong += wrong;
        }
    }
    std::printf("| %-7s | %7.0f | %-9s | %7d | %5.1f %% | %5d | %4d | %10d |\n", kind.name, rate,
                (noteName(kind.lowestNote) + ".." + noteName(kind.highestNote)).c_str(),
                tally.buffers, 100.0 * tally.right / tally.buffers, tally.wrong, tally.tail,
                tally.tailWrong);
    return tally;
}

void playedTable() {
    std::printf(
        "\n| played  | rate Hz | notes     | buffers | right   | wrong | tail | tail wrong |\n");
    std::printf(
        "|---------|---------|-----------|---------|---------|-------|------|------------|\n");
    PlayedTally total;
    for (const ToneKind& kind : playedKinds) {
        for (const double rate : {48000.0, 44100.0, 16000.0}) {
            const PlayedTally row = playedRow(kind, rate);
            total.buffers += row.buffers;
            total.right += row.right;
            total.wrong += row.wrong;
            total.tail += row.tail;
            total.tailWrong += row.tailWrong;
        }
    }
    std::printf("| all     |         |           | %7d | %5.1f %% | %5d | %4d | %10d |\n",
                total.buffers, 100.0 * total.right / total.buffers, total.wrong, total.tail,
                total.tailWrong);
}

// The share of buffers of noise alone that name a note, per colour and rate.
void noiseTable() {
    constexpr int buffers = 500;
    std::printf("\n| noise alone | rate Hz | buffers named |\n");
    std::printf("|-------------|---------|---------------|\n");
    const std::pair<const char*, NoiseColour> colours[] = {{"white", NoiseColour::white},
                                                           {"pink", NoiseColour::pink},
                                                           {"low-passed", NoiseColour::lowPassed}};
    for (const auto& [name, colour] : colours) {
        for (const double rate : {48000.0, 44100.0, 16000.0}) {
            const std::vector<float> sound = noiseAlone(colour, rate, buffers * bufferFrames, 17);
            int named = 0;
            for (int i = 0; i < buffers; ++i) {
                const std::optional<double> heard =
                    detectFrequency(std::span(sound).subspan(
                                        static_cast<std::size_t>(i) * bufferFrames, bufferFrames),
                                    rate);
                named += heard && readingForFrequency(*heard);
            }
            std::printf("| %-11s | %7.0f | %5.1f %%       |\n", name, rate,
                        100.0 * named / buffers);
        }
    }
}

// How the buffers of one group of notes were named against the note played.
struct Named {
    int buffers = 0;
    int right = 0;
    int wrong = 0;
    // Of the wrong ones: a note of the same pitch class (an octave or more off), one an octave
    // low, one lower still, and one of another pitch class.
    int octave = 0;
    int octaveLow = 0;
    int lower = 0;
    int neighbour = 0;

    void add(const std::optional<double>& heard, int note) {
        ++buffers;
        const auto reading = heard ? readingForFrequency(*heard) : std::nullopt;
        if (!reading) {
            return;
        }
        if (reading->note == noteName(note)) {
            ++right;
            return;
        }
        ++wrong;
        const auto read = static_cast<int>(std::lround(12 * std::log2(*heard / 440) + 69));
        octave += (read - note) % 12 == 0;
        octaveLow += read == note - 12;
        lower += read < note - 12;
        neighbour += (read - note) % 12 != 0;
    }

    void add(const Named& other) {
        buffers += other.buffers;
        right += other.right;
        wrong += other.wrong;
        octave += other.octave;
        octaveLow += other.octaveLow;
        lower += other.lower;
        neighbour += other.neighbour;
    }
};

// The buffers of a sound from `first`, fed as the tuner is fed, each added to the group that
// `group(start)` picks (or none).
template <typename Group>
void feed(const std::vector<float>& sound, std::size_t first, double rate, int note, Group group) {
    for (std::size_t start = first; start + bufferFrames <= sound.size(); start += bufferFrames) {
        if (Named* named = group(start)) {
            named->add(detectFrequency(std::span(sound).subspan(start, bufferFrames), rate), note);
        }
    }
}

// The notes below the searched range, E1 to A#1, played as the tuner hears them from three
// starting points in the first buffer: every buffer from the one with the attack to the end of
// the room's tail; those naming the note's octave and those naming a neighbour of it.
void belowRangeTable() {
    std::printf("\n| below range | rate Hz | buffers | octave | neighbour |\n");
    std::printf("|-------------|---------|---------|--------|-----------|\n");
    for (const ToneKind& kind : belowRangeKinds) {
        for (const double rate : {48000.0, 44100.0, 16000.0}) {
            Named named;
            for (int note = kind.lowestNote; note <= kind.highestNote; ++note) {
                for (const double onset : {0.0, 0.4, 0.8}) {
                    const PlayedNote played =
                        playedNote(kind, 440 * std::exp2((note - 69) / 12.0), rate, onset);
                    feed(played.samples, 0, rate, note, [&](std::size_t) { return &named; });
                }
            }
            std::printf("| %-11s | %7.0f | %7d | %6d | %9d |\n", kind.name, rate, named.buffers,
                        named.octave, named.neighbour);
        }
    }
}

// The instruments' notes started in nine ways (rising over 10, 30 or 100 ms, each without a noise
// burst, with a 5 ms one as loud as the tone and with one three times as loud) at a point of the
// first buffer that moves with the note: the buffers that start within 0.1 s of the note's start,
// those held up to its release, and those of the room's tail after it.
void attackTable() {
    std::printf("\n| attack  | rate Hz | buffers | right   | wrong | octave low | lower | "
                "held    | held right | held wrong | tail wrong |\n");
    std::printf("|---------|---------|---------|---------|-------|------------|-------|"
                "---------|------------|------------|------------|\n");
    Named attacks;
    Named held;
    Named tail;
    for (const ToneKind& kind : playedKinds) {
        for (const double rate : {48000.0, 44100.0, 16000.0}) {
            Named rowAttacks;
            Named rowHeld;
            Named rowTail;
            for (int note = kind.lowestNote; note <= kind.highestNote; ++note) {
                const double frequency = 440 * std::exp2((note - 69) / 12.0);
                for (const double rise : {0.01, 0.03, 0.1}) {
                    for (const double burst : {0.0, 1.0, 3.0}) {
                        const double onset = std::fmod(note * 0.37 + rise * 7 + burst * 0.5, 1.0);
                        const PlayedNote played =
                            playedNote(kind, frequency, rate, onset, {rise, burst});
                        const auto attackEnd = played.start + static_cast<std::size_t>(0.1 * rate);
                        feed(played.samples, 0, rate, note, [&](std::size_t start) {
                            return start < attackEnd    ? &rowAttacks
                                   : start < played.end ? &rowHeld
                                                        : &rowTail;
                        });
                    }
                }
            }
            std::printf("| %-7s | %7.0f | %7d | %5.1f %% | %5d | %10d | %5d | %7d | %8.1f %% | "
                        "%10d | %10d |\n",
                        kind.name, rate, rowAttacks.buffers,
                        100.0 * rowAttacks.right / rowAttacks.buffers, rowAttacks.wrong,
                        rowAttacks.octaveLow, rowAttacks.lower, rowHeld.buffers,
                        100.0 * rowHeld.right / rowHeld.buffers, rowHeld.wrong, rowTail.wrong);
            attacks.add(rowAttacks);
            held.add(rowHeld);
            tail.add(rowTail);
        }
    }
    std::printf("| all     |         | %7d | %5.1f %% | %5d | %10d | %5d | %7d | %8.1f %% | "
                "%10d | %10d |\n",
                attacks.buffers, 100.0 * attacks.right / attacks.buffers, attacks.wrong,
                attacks.octaveLow, attacks.lower, held.buffers, 100.0 * held.right / held.buffers,
                held.wrong, tail.wrong);
}

// Karplus-Strong strings plucked from E2 to C6 and left to ring for 4.8 seconds.
void pluckTable() {
    std::printf("\n| plucked | rate Hz | buffers | right   | wrong |\n");
    std::printf("|---------|---------|---------|---------|-------|\n");
    for (const double rate : {48000.0, 44100.0, 16000.0}) {
        Named named;
        for (int note = 40; note <= 84; ++note) {
            feed(pluckedString(440 * std::exp2((note - 69) / 12.0), rate, 4.8), 0, rate, note,
                 [&](std::size_t) { return &named; });
        }
        std::printf("| string  | %7.0f | %7d | %5.1f %% | %5d |\n", rate, named.buffers,
                    100.0 * named.right / named.buffers, named.wrong);
    }
}

} // namespace

} // namespace zivra::tuner

int main() {
    using namespace zivra::tuner;
    measureSpeed();
    accuracyTable();
    playedTable();
    noiseTable();
    belowRangeTable();
    attackTable();
    pluckTable();
    return 0;
}
