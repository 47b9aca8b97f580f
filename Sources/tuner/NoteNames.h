#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Equal-tempered note names with A4 = 440 Hz = note number 69. Pure functions: any thread,
// nothing shared, nothing thrown.
namespace zivra::tuner {

// The twelve pitch classes, C = 0, in sharp names only.
inline constexpr std::array<std::string_view, 12> noteNames{"C",  "C#", "D",  "D#", "E",  "F",
                                                            "F#", "G",  "G#", "A",  "A#", "B"};

inline constexpr int firstReferenceOctave = 1;
inline constexpr int lastReferenceOctave = 7;

// The notes a reference tone can be played for: "C1", "C#1", ..., "B7" (84 names). The list is
// built once and lives for the whole process.
const std::array<std::string, 84>& referenceNotes();

// The name of a note number with its octave: 69 is "A4", 60 "C4", 59 "B3", -1 "B-2".
std::string noteName(std::int64_t noteNumber);

// A frequency named: the nearest note and the deviation from it in cents (-50 to 50).
struct PitchReading {
    std::string note;
    std::int64_t cents = 0;
};

// The reading for a frequency strictly between 50 and 4000 Hz; empty outside that range (and
// for a frequency that is not a number).
std::optional<PitchReading> readingForFrequency(double frequency);

// The frequency of a note name such as "A4", "a4", " C#3 " or "A♯4": a letter, an optional sharp
// ("#" or "♯") and a decimal octave with an optional sign, spaces and tabs around it ignored.
// Empty for anything else, flat names included, and for an octave beyond 32 bits.
std::optional<double> frequencyForNote(std::string_view name);

} // namespace zivra::tuner
