// Semitone sweeps through the pitch detection, as a musician or a singer tries a tuner.
#include "tests/tuner/HarmonicTones.h"
#include "tuner/NoteNames.h"
#include "tuner/PitchDetection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>
#include <vector>

namespace zivra::tuner {
namespace {

constexpr int c8 = 108;
constexpr double phases[] = {0.0, 0.35, 0.7};
// The usual rates and a headset microphone's.
constexpr double rates[] = {48000.0, 44100.0, 16000.0};

// How a sweep of one kind at one rate went: the buffers that named a note, those that named
// another note than the one played, and the buffers between two notes that named nothing.
struct Sweep {
    int named = 0;
    int wrong = 0;
    int missed = 0;
    int counted = 0;
};

Sweep sweep(const ToneKind& kind, double rate, int countedFrom, int countedTo) {
    Sweep result;
    for (int note = kind.lowestNote; note <= c8; ++note) {
        const double frequency = 440 * std::exp2((note - 69) / 12.0);
        for (const double phase : phases) {
            const auto heard = detectFrequency(harmonicTone(kind, frequency, rate, phase), rate);
            const auto reading = heard ? readingForFrequency(*heard) : std::nullopt;
            const bool counted = note >= countedFrom && note <= countedTo;
            result.counted += counted;
            result.missed += !reading && counted;
            if (!reading) {
                continue;
            }
            ++result.named;
            result.wrong += reading->note != noteName(note);
            EXPECT_EQ(reading->note, noteName(note))
                << kind.name << " at " << frequency << " Hz, rate " << rate << ", phase " << phase
                << ": read " << *heard << " Hz";
        }
    }
    std::printf("%-6s at %5.0f Hz: %d of %d buffers named, %d wrong\n", kind.name, rate,
                result.named, (c8 - kind.lowestNote + 1) * 3, result.wrong);
    return result;
}

// E1 to C8, four kinds of tone, three rates, three starting phases: every buffer names the
// note played or nothing, never a sub-multiple or a multiple of it. Each kind is named in every
// buffer from B1, the first note above the 60 Hz floor, to C7.
TEST(PitchSweepTest, EveryBufferNamesThePlayedNoteOrNothing) {
    for (const ToneKind& kind : toneKinds) {
        for (const double rate : rates) {
            EXPECT_EQ(sweep(kind, rate, 35, 96).missed, 0) << kind.name << " at rate " << rate;
        }
    }
}

// A weak, missing or noise-buried fundamental: still the note played or nothing, never its
// octave or twelfth, and a note in nine of ten buffers from E2 to C6, where voices sing.
TEST(PitchSweepTest, WeakFundamentalsNameThePlayedNoteOrNothing) {
    for (const ToneKind& kind : hardToneKinds) {
        for (const double rate : rates) {
            const Sweep result = sweep(kind, rate, 40, 84);
            EXPECT_LE(result.missed * 10, result.counted) << kind.name << " at rate " << rate;
        }
    }
}

// Every third note of each instrument's range, played as the tuner hears it: from the buffer
// with the attack to the release, nine in ten buffers name the note played and at most one in
// fifteen another one, though odd partials are weak, low tones smooth, and notes die away, swing
// or sound in a room.
TEST(PitchSweepTest, PlayedNotesNameTheNotePlayed) {
    int buffers = 0;
    int right = 0;
    int wrong = 0;
    for (const ToneKind& kind : playedKinds) {
        for (const double rate : rates) {
            for (int note = kind.lowestNote; note <= kind.highestNote; note += 3) {
                const auto [sound, end, noteStart] = playedNote(
                    kind, 440 * std::exp2((note - 69) / 12.0), rate, std::fmod(note * 0.37, 1.0));
                for (std::size_t start = 0; start + 4096 <= end; start += 4096) {
                    const auto heard = detectFrequency(std::span(sound).subspan(start, 4096), rate);
                    const auto reading = heard ? readingForFrequency(*heard) : std::nullopt;
                    ++buffers;
                    right += reading && reading->note == noteName(note);
                    wrong += reading && reading->note != noteName(note);
                }
            }
        }
    }
    std::printf("played notes: %d buffers, %d right, %d wrong\n", buffers, right, wrong);
    EXPECT_GE(right * 10, buffers * 9);
    EXPECT_LE(wrong * 15, buffers);
}

// How far a reading lies from the note played, in semitones; 0 when it names nothing.
long semitonesOff(std::span<const float> buffer, double rate, int note) {
    const auto heard = detectFrequency(buffer, rate);
    return heard && readingForFrequency(*heard)
               ? std::lround(12 * std::log2(*heard / 440) + 69) - note
               : 0;
}

// Notes below the searched range, E1 to A#1: every buffer after the one with the attack, except
// the one with the release, names nothing or the note's octave, never a neighbour of it.
TEST(PitchSweepTest, NotesBelowTheRangeNameNothingOrTheirOctave) {
    for (const ToneKind& kind : belowRangeKinds) {
        for (const double rate : rates) {
            for (int note = kind.lowestNote; note <= kind.highestNote; ++note) {
                for (const double onset : {0.0, 0.2, 0.4, 0.6, 0.8}) {
                    const PlayedNote played =
                        playedNote(kind, 440 * std::exp2((note - 69) / 12.0), rate, onset);
                    for (std::size_t start = 4096; start + 4096 <= played.samples.size();
                         start += 4096) {
                        if (start < played.end && start + 4096 > played.end) {
                            continue;
                        }
                        const auto buffer = std::span(played.samples).subspan(start, 4096);
                        EXPECT_EQ(semitonesOff(buffer, rate, note) % 12, 0)
                            << kind.name << " " << noteName(note) << " at rate " << rate
                            << ", onset " << onset << ", buffer " << start / 4096;
                    }
                }
            }
        }
    }
}

// Every third note of each instrument up to C6, rising over 10, 30 or 100 ms from four points of
// the buffer behind a 5 ms burst of noise as loud as the tone: no buffer within 0.1 s of the
// start reads an octave or more low.
TEST(PitchSweepTest, AttacksNeverReadAnOctaveLow) {
    for (const ToneKind& kind : playedKinds) {
        for (int note = kind.lowestNote; note <= std::min(kind.highestNote, 84); note += 3) {
            for (const double rise : {0.01, 0.03, 0.1}) {
                for (const double onset : {0.03, 0.28, 0.53, 0.78}) {
                    const PlayedNote played = playedNote(kind, 440 * std::exp2((note - 69) / 12.0),
                                                         48000, onset, {rise, 1});
                    for (std::size_t start = 0; start < played.start + 4800; start += 4096) {
                        const auto buffer = std::span(played.samples).subspan(start, 4096);
                        EXPECT_GT(semitonesOff(buffer, 48000, note), -12)
                            << kind.name << " " << noteName(note) << " rising over " << rise
                            << " s from " << onset << ", buffer " << start / 4096;
                    }
                }
            }
        }
    }
}

// A plucked string from E2 to C6 left to ring: every buffer names the note or nothing.
TEST(PitchSweepTest, PluckedStringsNameTheNoteOrNothingAsTheyDie) {
    for (const double rate : rates) {
        for (int note = 40; note <= 84; ++note) {
            const std::vector<float> sound =
                pluckedString(440 * std::exp2((note - 69) / 12.0), rate, 4.8);
            for (std::size_t start = 0; start + 4096 <= sound.size(); start += 4096) {
                EXPECT_EQ(semitonesOff(std::span(sound).subspan(start, 4096), rate, note), 0)
                    << noteName(note) << " at rate " << rate << ", buffer " << start / 4096;
            }
        }
    }
}

// Noise alone, as between notes, names a note in at most one buffer in fifty.
TEST(PitchSweepTest, NoiseAloneNamesNothing) {
    for (const NoiseColour colour :
         {NoiseColour::white, NoiseColour::pink, NoiseColour::lowPassed}) {
        for (const double rate : rates) {
            const std::vector<float> sound = noiseAlone(colour, rate, 100 * 4096, 29);
            int named = 0;
            for (std::size_t start = 0; start < sound.size(); start += 4096) {
                const auto heard = detectFrequency(std::span(sound).subspan(start, 4096), rate);
                named += heard && readingForFrequency(*heard);
            }
            EXPECT_LE(named, 2) << static_cast<int>(colour) << " at rate " << rate;
        }
    }
}

} // namespace
} // namespace zivra::tuner
