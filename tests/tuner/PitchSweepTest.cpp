// Semitone sweeps through the pitch detection, as a musician tries a tuner.
#include "tests/tuner/HarmonicTones.h"
#include "tuner/NoteNames.h"
#include "tuner/PitchDetection.h"

#include <gtest/gtest.h>

#include <cmath>

namespace zivra::tuner {
namespace {

// E1 to C8, four kinds of tone, both usual rates, three starting phases: every buffer names the
// note played or nothing, never a sub-multiple or a multiple of it. Each kind is named in every
// buffer from E4 to C7, well inside the searched lags.
TEST(PitchSweepTest, EveryBufferNamesThePlayedNoteOrNothing) {
    constexpr int e1 = 28;
    constexpr int e4 = 64;
    constexpr int c7 = 96;
    constexpr int c8 = 108;
    for (const ToneKind& kind : toneKinds) {
        for (const double rate : {48000.0, 44100.0}) {
            int named = 0;
            int coreMissed = 0;
            for (int note = e1; note <= c8; ++note) {
                const double frequency = 440 * std::exp2((note - 69) / 12.0);
                for (const double phase : {0.0, 0.35, 0.7}) {
                    const auto heard =
                        detectFrequency(harmonicTone(kind, frequency, rate, phase), rate);
                    const auto reading = heard ? readingForFrequency(*heard) : std::nullopt;
                    coreMissed += !reading && note >= e4 && note <= c7;
                    if (!reading) {
                        continue;
                    }
                    ++named;
                    EXPECT_EQ(reading->note, noteName(note))
                        << kind.name << " at " << frequency << " Hz, rate " << rate << ", phase "
                        << phase << ": read " << *heard << " Hz";
                }
            }
            EXPECT_EQ(coreMissed, 0) << kind.name << " at rate " << rate;
            std::printf("%-6s at %5.0f Hz: %d of %d buffers named\n", kind.name, rate, named,
                        (c8 - e1 + 1) * 3);
        }
    }
}

} // namespace
} // namespace zivra::tuner
