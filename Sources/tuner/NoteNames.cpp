#include "tuner/NoteNames.h"

#include <charconv>
#include <cmath>

namespace zivra::tuner {
namespace {

constexpr std::string_view sharpSign = "\u266F";

// The nearest integer, halves away from zero; the callers' values are far inside 64 bits.
std::int64_t nearest(double value) {
    return static_cast<std::int64_t>(std::round(value));
}

double frequencyOfNoteNumber(std::int64_t noteNumber) {
    return std::exp2(static_cast<double>(noteNumber - 69) / 12.0) * 440.0;
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view blanks = " \t";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace

const std::array<std::string, 84>& referenceNotes() {
    static const std::array<std::string, 84> notes = [] {
        std::array<std::string, 84> list;
        std::size_t next = 0;
        for (int octave = firstReferenceOctave; octave <= lastReferenceOctave; ++octave) {
            for (std::string_view name : noteNames) {
                list[next++] = std::string(name) + std::to_string(octave);
            }
        }
        return list;
    }();
    return notes;
}

std::string noteName(std::int64_t noteNumber) {
    const std::int64_t quotient = noteNumber / 12;
    std::int64_t pitchClass = noteNumber - 12 * quotient;
    if (pitchClass < 0) {
        pitchClass += 12;
    }
    return std::string(noteNames[static_cast<std::size_t>(pitchClass)]) +
           std::to_string(quotient - 1);
}

std::optional<PitchReading> readingForFrequency(double frequency) {
    if (!(frequency > 50.0 && frequency < 4000.0)) {
        return std::nullopt;
    }
    const std::int64_t note = nearest(std::log2(frequency / 440.0) * 12.0 + 69.0);
    const double reference = frequencyOfNoteNumber(note);
    return PitchReading{noteName(note), nearest(std::log2(frequency / reference) * 1200.0)};
}

std::optional<double> frequencyForNote(std::string_view name) {
    name = trimmed(name);
    if (name.empty()) {
        return std::nullopt;
    }
    char letter = name.front();
    if (letter >= 'a' && letter <= 'z') {
        letter = static_cast<char>(letter - 'a' + 'A');
    }
    std::string_view rest = name.substr(1);
    std::string lookup(1, letter);
    if (rest.starts_with('#')) {
        lookup += '#';
        rest.remove_prefix(1);
    } else if (rest.starts_with(sharpSign)) {
        lookup += '#';
        rest.remove_prefix(sharpSign.size());
    }
    if (rest.empty()) {
        return std::nullopt;
    }
    // from_chars takes a minus sign but no plus sign.
    std::string_view digits = rest;
    if (digits.starts_with('+')) {
        digits.remove_prefix(1);
        if (digits.starts_with('-')) {
            return std::nullopt;
        }
    }
    std::int32_t octave = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), octave);
    if (error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    for (std::size_t pitchClass = 0; pitchClass < noteNames.size(); ++pitchClass) {
        if (noteNames[pitchClass] == lookup) {
            const std::int64_t noteNumber = (static_cast<std::int64_t>(octave) + 1) * 12 +
                                            static_cast<std::int64_t>(pitchClass);
            return frequencyOfNoteNumber(noteNumber);
        }
    }
    return std::nullopt;
}

} // namespace zivra::tuner
