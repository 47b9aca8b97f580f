// Note naming, pitch detection, the reference tone's WAVE bytes, and the tuner's wait for a
// sound server that does not answer in time.
#include "platform/sound/SoundError.h"
#include "platform/sound/WaveData.h"
#include "tuner/NoteNames.h"
#include "tuner/PitchDetection.h"
#include "tuner/ToneWav.h"
#include "tuner/Tuner.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace zivra::tuner {
namespace {

std::vector<float> sine(double frequency, std::size_t count = 4096, double rate = 48000) {
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<float>(std::sin(2 * std::numbers::pi * frequency * i / rate));
    }
    return samples;
}

void expectReading(double frequency, const std::string& note, std::int64_t cents) {
    const auto reading = readingForFrequency(frequency);
    ASSERT_TRUE(reading) << frequency;
    EXPECT_EQ(reading->note, note) << frequency;
    EXPECT_EQ(reading->cents, cents) << frequency;
}

TEST(NoteNamesTest, NamesTheNearestNoteWithItsCents) {
    expectReading(440, "A4", 0);
    expectReading(445, "A4", 20);
    expectReading(466.1638, "A#4", 0);
    expectReading(261.6256, "C4", 0);
    expectReading(246.94, "B3", 0);
    expectReading(50.0001, "G1", 35);
    expectReading(3999, "B7", 21);
    for (double outside : {50.0, 4000.0, 0.0, -440.0, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_FALSE(readingForFrequency(outside)) << outside;
    }
    EXPECT_EQ(noteName(12), "C0");
}

TEST(NoteNamesTest, ReferenceNotesRunFromC1ToB7) {
    const auto& notes = referenceNotes();
    EXPECT_EQ(notes.front(), "C1");
    EXPECT_EQ(notes[1], "C#1");
    EXPECT_EQ(notes[12], "C2");
    EXPECT_EQ(notes.back(), "B7");
}

TEST(NoteNamesTest, FrequencyForNoteReadsLetterSharpAndOctave) {
    EXPECT_DOUBLE_EQ(*frequencyForNote("A4"), 440);
    EXPECT_DOUBLE_EQ(*frequencyForNote("a4"), 440);
    EXPECT_DOUBLE_EQ(*frequencyForNote(" A4\t"), 440);
    EXPECT_NEAR(*frequencyForNote("C4"), 261.6255653, 1e-6);
    EXPECT_NEAR(*frequencyForNote("A#4"), 466.1637615, 1e-6);
    EXPECT_NEAR(*frequencyForNote("A\u266F4"), 466.1637615, 1e-6);
    EXPECT_DOUBLE_EQ(*frequencyForNote("A-1"), 13.75);
    EXPECT_DOUBLE_EQ(*frequencyForNote("A+4"), 440);
    EXPECT_NEAR(*frequencyForNote("C0"), 16.3515978, 1e-6);
    for (const char* invalid : {"", "  ", "A", "A#", "H4", "A4x", "A\n4", "Bb4", "A+-4",
                                "A99999999999", "#4", "\u266F4"}) {
        EXPECT_FALSE(frequencyForNote(invalid)) << invalid;
    }
}

TEST(PitchDetectionTest, ReadsPureSinesAsTheNoteTheyAre) {
    const auto a4 = detectFrequency(sine(440), 48000);
    ASSERT_TRUE(a4);
    // The clarity peaks at the period itself; the raw correlation, summing fewer terms at longer
    // lags, a little short of it (440.02 Hz here, 17 cents sharp at B1).
    EXPECT_NEAR(*a4, 440, 0.005);
    EXPECT_EQ(readingForFrequency(*a4)->note, "A4");
    EXPECT_EQ(readingForFrequency(*a4)->cents, 0);

    const auto e3 = detectFrequency(sine(164.81), 48000);
    ASSERT_TRUE(e3);
    EXPECT_EQ(readingForFrequency(*e3)->note, "E3");
    EXPECT_EQ(readingForFrequency(*e3)->cents, 0);

    // Long periods in a short buffer: the shortest lag sums the most terms, but the correlation
    // has not turned negative there yet.
    for (const auto& [low, note] :
         {std::pair{110.0, "A2"}, {98.0, "G2"}, {130.81, "C3"}, {146.83, "D3"}, {61.74, "B1"}}) {
        const auto heard = detectFrequency(sine(low), 48000);
        ASSERT_TRUE(heard) << low;
        EXPECT_EQ(readingForFrequency(*heard)->note, note);
        EXPECT_EQ(readingForFrequency(*heard)->cents, 0) << low;
    }
}

TEST(PitchDetectionTest, PublishesNothingForBuffersThatSayNothing) {
    EXPECT_FALSE(detectFrequency({}, 48000));
    EXPECT_FALSE(detectFrequency(std::vector<float>(4096, 0.0f), 48000));
    EXPECT_FALSE(detectFrequency(std::vector<float>(4096, 0.25f), 48000));
    std::vector<float> broken = sine(440);
    broken[100] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(detectFrequency(broken, 48000));
    // 20 samples at 48 kHz: the longest lag (19) is not above the shortest (19).
    EXPECT_FALSE(detectFrequency(sine(2400, 20), 48000));
    for (double rate : {0.0, -48000.0, std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity(), 1e300}) {
        EXPECT_FALSE(detectFrequency(sine(440), rate)) << rate;
    }
}

TEST(ToneWavTest, WritesTheHeaderAndTheSineAsSpecifiedBytes) {
    const auto wav = generateToneWAV(440, 2.0, 48000);
    ASSERT_TRUE(wav);
    ASSERT_EQ(wav->size(), 192044u);
    const std::vector<std::uint8_t> header{
        0x52, 0x49, 0x46, 0x46, 0x24, 0xEE, 0x02, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74,
        0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x80, 0xBB, 0x00, 0x00, 0x00, 0x77,
        0x01, 0x00, 0x02, 0x00, 0x10, 0x00, 0x64, 0x61, 0x74, 0x61, 0x00, 0xEE, 0x02, 0x00};
    EXPECT_EQ(std::vector<std::uint8_t>(wav->begin(), wav->begin() + 44), header);
    auto sample = [&](std::size_t i) {
        return static_cast<std::int16_t>((*wav)[44 + 2 * i] | (*wav)[45 + 2 * i] << 8);
    };
    const std::vector<std::int16_t> first{0, 943, 1883, 2816, 3741, 4653};
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(sample(i), first[i]) << i;
    }
    EXPECT_EQ(sample(95997), -2816);
    EXPECT_EQ(sample(95998), -1883);
    EXPECT_EQ(sample(95999), -943);
    // Looped, the last sample runs into the first (0) by one ordinary step of the sine.
    EXPECT_LE(std::abs(sample(95999) - sample(0)), sample(1) - sample(0));

    for (double bad : {std::numeric_limits<double>::quiet_NaN(), -1.0, 3e9}) {
        EXPECT_FALSE(generateToneWAV(440, 2.0, bad)) << bad;
    }
    EXPECT_FALSE(generateToneWAV(std::numeric_limits<double>::infinity(), 2.0, 48000));
    EXPECT_FALSE(generateToneWAV(440, 1e9, 48000));
}

TEST(ToneWavTest, ThePlayerReadsBackWhatTheGeneratorWrote) {
    const auto wav = generateToneWAV(440, 2.0, 48000);
    const auto sound = platform::sound::decodeWave(*wav);
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->sampleRate, 48000u);
    EXPECT_EQ(sound->channels, 1u);
    ASSERT_EQ(sound->samples.size(), 96000u);
    EXPECT_FLOAT_EQ(sound->samples[1], 943.0f / 32768);

    // An unknown chunk before the data is skipped; a data chunk claiming more than the file
    // holds yields the frames that are there.
    std::vector<std::uint8_t> extended(wav->begin(), wav->begin() + 36);
    const std::uint8_t list[] = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
    extended.insert(extended.end(), std::begin(list), std::end(list));
    extended.insert(extended.end(), wav->begin() + 36, wav->begin() + 44 + 10);
    const auto truncated = platform::sound::decodeWave(extended);
    ASSERT_TRUE(truncated);
    EXPECT_EQ(truncated->samples.size(), 5u);

    std::vector<std::uint8_t> floats = *wav;
    floats[20] = 3;
    std::vector<std::uint8_t> empty(wav->begin(), wav->begin() + 44);
    for (const auto& bad :
         {floats, empty, std::vector<std::uint8_t>(wav->begin(), wav->begin() + 30),
          std::vector<std::uint8_t>{}}) {
        EXPECT_FALSE(platform::sound::decodeWave(bad));
    }
}

// A sound server that answers when the test says so; the microphone fails as it is told.
struct SlowServer {
    std::function<void()> opening = [] { throw platform::sound::ServerUnanswered(-1, "Timeout"); };
    int opened = 0;
    std::vector<std::function<void()>> waiting;
    void answer() {
        for (const auto& answered : std::exchange(waiting, {})) {
            answered();
        }
        QCoreApplication::processEvents();
    }
};

class MutedMicrophone : public platform::sound::Microphone {
    void start(std::uint32_t, platform::sound::MicrophoneBlock) override {}
    void stop() override {}
};

TunerEnvironment over(SlowServer& server) {
    return {[](auto completion) { completion(true); },
            [&server]() -> std::unique_ptr<platform::sound::Microphone> {
                ++server.opened;
                server.opening();
                return std::make_unique<MutedMicrophone>();
            },
            nullptr, [&server](auto answered) { server.waiting.push_back(std::move(answered)); }};
}

// Ends one of the tuner's timers at once: the pause before its next try, or the time an answer
// in time may take.
void endPause(QTimer* pause) {
    pause->setInterval(0);
    while (pause->isActive()) {
        QCoreApplication::processEvents();
    }
}

// The server answers after a failed try and, asked again, answers later than in time.
void answerLate(SlowServer& server, Tuner& tuner) {
    server.answer();
    auto* check = tuner.findChild<QTimer*>(QStringLiteral("answerCheck"));
    ASSERT_TRUE(check && check->isActive()) << "the answer was not checked";
    endPause(check);
    server.answer();
}

int tunerWarnings = 0;

TEST(TunerServerWaitTest, WaitsAsListeningUntilStoppedOrTheServerAnswers) {
    SlowServer server;
    Tuner tuner(over(server));
    tuner.startDetecting();
    QCoreApplication::processEvents();
    EXPECT_TRUE(tuner.isDetecting());
    EXPECT_EQ(tuner.detectedNote(), Tuner::listening);
    tuner.stopDetecting();
    EXPECT_FALSE(tuner.isDetecting());
    server.answer();
    EXPECT_EQ(server.opened, 1) << "a microphone opened after the stop";

    tuner.startDetecting();
    QCoreApplication::processEvents();
    server.opening = [] {};
    server.answer();
    EXPECT_EQ(server.opened, 3);
    EXPECT_TRUE(tuner.isDetecting());
}

TEST(TunerServerWaitTest, BehindAServerTooSlowToUseTheTriesBackOffAndTheFailureIsSaidOnce) {
    const QtMessageHandler logged = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString&) {
            tunerWarnings +=
                type == QtWarningMsg && context.category == QStringLiteral("zivra.tuner");
        });
    SlowServer server;
    Tuner tuner(over(server));
    auto* pause = tuner.findChild<QTimer*>(QStringLiteral("pause"));
    tuner.startDetecting();
    QCoreApplication::processEvents();
    server.answer();
    EXPECT_EQ(server.opened, 2) << "the first try after an answer is made at once";
    for (const int seconds : {10, 20, 40, 60, 60}) {
        const int opened = server.opened;
        answerLate(server, tuner);
        EXPECT_EQ(server.opened, opened) << "tried again without a pause";
        ASSERT_TRUE(pause && pause->isActive());
        EXPECT_EQ(pause->interval(), seconds * 1000);
        endPause(pause);
    }
    EXPECT_EQ(server.opened, 7);
    EXPECT_EQ(tunerWarnings, 1);

    server.opening = [] { throw platform::sound::SoundError(-1, "Refused"); };
    answerLate(server, tuner);
    endPause(pause);
    server.answer();
    EXPECT_EQ(server.opened, 8);
    EXPECT_FALSE(tuner.isDetecting());
    EXPECT_EQ(tuner.detectedNote(), Tuner::failed);
    qInstallMessageHandler(logged);
}

// After a stop the try made at once at the first answer can fail while the server catches up;
// when it answers again at once, the tuner tries again at once, twice at most in a wait, and
// only then pauses as behind a slow server.
TEST(TunerServerWaitTest, AServerThatAnswersInTimeAfterAFailedTryIsTriedAgainAtOnce) {
    SlowServer server;
    Tuner tuner(over(server));
    auto* pause = tuner.findChild<QTimer*>(QStringLiteral("pause"));
    ASSERT_TRUE(pause);
    tuner.startDetecting();
    QCoreApplication::processEvents();
    server.answer();
    ASSERT_EQ(server.opened, 2);
    for (const int opened : {3, 4}) {
        server.answer();
        server.answer();
        EXPECT_EQ(server.opened, opened) << "an answer in time after a failed try started a pause";
        EXPECT_FALSE(pause->isActive());
    }
    server.answer();
    EXPECT_EQ(server.opened, 4);
    ASSERT_TRUE(pause->isActive());
    EXPECT_EQ(pause->interval(), 10000);

    // A new wait has its tries at once again.
    tuner.stopDetecting();
    tuner.startDetecting();
    QCoreApplication::processEvents();
    server.answer();
    server.answer();
    server.opening = [] {};
    server.answer();
    EXPECT_EQ(server.opened, 7);
    EXPECT_TRUE(tuner.isDetecting());
    EXPECT_FALSE(pause->isActive());
}

} // namespace
} // namespace zivra::tuner
