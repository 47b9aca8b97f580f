// The tuner on the private sound server: tones played into "micfeed" reach it as the default
// source "mic"; its reference tone plays on the default sink "speakers".
#include "app/PanelButton.h"
#include "app/TunerPanel.h"
#include "platform/sound/SoundError.h"
#include "platform/sound/SoundServer.h"
#include "tests/platform/sound/support/SoundServerTools.h"
#include "tests/platform/sound/support/ToneAnalysis.h"
#include "tuner/Tuner.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

using namespace std::chrono_literals;
using namespace zivra::platform::sound;

namespace zivra::tuner {
namespace {

// A sine of amplitude 0.5 played at volume 0.5: RMS 0.25 / sqrt(2).
constexpr double referenceRmsDb = -15.05;

class TunerOnSoundServerTest : public ::testing::Test {
protected:
    // A file of the tone played into the microphone until the player goes away.
    std::unique_ptr<Player> playIntoMicrophone(const QString& name,
                                               std::function<float(double seconds)> wave) {
        const QString path = dir.filePath(name + ".wav");
        writeWave(path, testRate, 30, [&](std::size_t i) {
            const float s = wave(static_cast<double>(i) / testRate);
            return std::pair{s, s};
        });
        return std::make_unique<Player>(path, "micfeed");
    }

    bool hears(const QString& note) {
        return waitUntil([&] { return tuner.detectedNote() == note; }, 15s);
    }

    // The speakers carry the tone at its level and pitch. Level by RMS: the monitor's clock may
    // drift by a cent against the stream's, which a narrow filter would read as a lower level.
    static void expectReferenceTone(const std::vector<float>& heard, double frequency) {
        EXPECT_NEAR(rmsDb(heard), referenceRmsDb, 0.5);
        const double quarterTone = std::exp2(50.0 / 1200);
        const double peak =
            peakFrequency(heard, testRate, frequency / quarterTone, frequency * quarterTone);
        EXPECT_NEAR(centsBetween(peak, frequency), 0, 3);
    }

    // What the speakers play, taken again (up to three times) when the server dropped out while
    // recording: a busy machine can insert a run of silence, whose edges would pass for clicks.
    static std::vector<float> steadySpeakers(std::chrono::milliseconds duration) {
        std::vector<float> heard;
        for (int attempt = 0; attempt < 3; ++attempt) {
            heard = speakers(duration);
            const float silence[48] = {};
            if (std::search(heard.begin(), heard.end(), std::begin(silence), std::end(silence)) ==
                heard.end()) {
                break;
            }
        }
        return heard;
    }

    // The longest step from one sample to the next: a click stands out against a sine's slope.
    static float largestStep(const std::vector<float>& samples) {
        float largest = 0;
        for (std::size_t i = 1; i < samples.size(); ++i) {
            largest = std::max(largest, std::fabs(samples[i] - samples[i - 1]));
        }
        return largest;
    }

    // What the speakers play for the duration, from 50 ms after the sound begins: a recording
    // starts with silence until its stream is up, longer on a busy machine.
    static std::vector<float> speakers(std::chrono::milliseconds duration = 1500ms) {
        const auto samples = channel(record("speakers.monitor", duration + 1s), 0);
        const auto start = std::find_if(samples.begin(), samples.end(),
                                        [](float s) { return std::fabs(s) > 1e-3f; });
        const auto from = std::min<std::ptrdiff_t>(samples.end() - start, 2400);
        const auto length =
            std::min<std::ptrdiff_t>(samples.end() - start - from, duration.count() * 48);
        return std::vector<float>(start + from, start + from + length);
    }

    // Zivra's own streams on the server: the reference tone's while it sounds.
    static std::vector<SinkInputState> ownStreams() {
        std::vector<SinkInputState> own;
        for (const SinkInputState& input : sinkInputs()) {
            if (input.processId == getpid()) {
                own.push_back(input);
            }
        }
        return own;
    }

    QTemporaryDir dir;
    Tuner tuner{TunerEnvironment::system()};
};

TEST_F(TunerOnSoundServerTest, NamesSinesAndHarmonicRichTonesFromTheMicrophone) {
    struct Case {
        QString note;
        std::function<float(double)> wave;
    };
    const Case cases[] = {
        {"A4", [](double t) { return 0.4f * static_cast<float>(std::sin(2 * M_PI * 440 * t)); }},
        {"E3", [](double t) { return 0.4f * static_cast<float>(std::sin(2 * M_PI * 164.81 * t)); }},
        // A sawtooth at 196 Hz: every harmonic at 1/k of the fundamental.
        {"G3", [](double t) {
             const double phase = 196 * t - std::floor(196 * t);
             return static_cast<float>(0.4 * (2 * phase - 1));
         }}};
    tuner.startDetecting();
    ASSERT_TRUE(waitUntil([&] { return tuner.isDetecting(); }));
    for (const Case& tone : cases) {
        auto player = playIntoMicrophone(tone.note, tone.wave);
        ASSERT_TRUE(hears(tone.note)) << "heard " << tuner.detectedNote().toStdString();
        // The readings of the steady tone name it, whatever phase a buffer starts at; the cents
        // wander by the few (up to 6 for E3) that the correlation's falling overlap adds. One
        // in eight may miss: a busy machine can drop a piece of a buffer.
        int right = 0;
        int count = 0;
        const auto connection = QObject::connect(&tuner, &Tuner::detectedCentsChanged, [&] {
            ++count;
            right += tuner.detectedNote() == tone.note && std::llabs(tuner.detectedCents()) <= 10;
        });
        ASSERT_TRUE(waitUntil([&] { return count >= 8; }));
        QObject::disconnect(connection);
        EXPECT_GE(right, count - 1) << tone.note.toStdString();
    }
}

TEST_F(TunerOnSoundServerTest, TheListenButtonShowsListeningThenTheNoteAndSilencePublishesNothing) {
    app::TunerPanel panel(tuner, [] {});
    panel.show();
    QSignalSpy notes(&tuner, &Tuner::detectedNoteChanged);
    QTest::mouseClick(panel.listenButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return panel.noteLabel()->text() == Tuner::listening; }));
    EXPECT_EQ(panel.listenButton()->title(), "Stop listening");

    // Only silence comes in: the panel keeps saying that it listens.
    EXPECT_FALSE(waitUntil([&] { return notes.count() > 1; }, 1500ms));
    EXPECT_EQ(tuner.detectedFrequency(), 0.0);

    auto player = playIntoMicrophone(
        "a4", [](double t) { return 0.3f * static_cast<float>(std::sin(2 * M_PI * 440 * t)); });
    ASSERT_TRUE(hears("A4"));
    EXPECT_EQ(panel.noteLabel()->text(), "A4");
    EXPECT_EQ(panel.frequencyLabel()->text(),
              QString::asprintf("%.1f Hz", tuner.detectedFrequency()));

    QTest::mouseClick(panel.listenButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !tuner.isDetecting(); }));
    EXPECT_EQ(panel.listenButton()->title(), "Start listening");
    EXPECT_EQ(tuner.detectedNote(), "A4");
}

TEST_F(TunerOnSoundServerTest, TheReferenceToneSoundsAtHalfAmplitudeTimesHalfVolumeUntilStopped) {
    tuner.toggleReference("A4");
    ASSERT_TRUE(tuner.isReferencePlaying());
    const auto heard = steadySpeakers(2500ms);
    expectReferenceTone(heard, 440);
    // 880 whole periods in the two seconds: the loop point is as smooth as the sine.
    const float slope = static_cast<float>(2 * M_PI * 440 / testRate * 0.25);
    EXPECT_LT(largestStep(heard), slope * 1.2f);

    tuner.stopReference();
    EXPECT_FALSE(tuner.isReferencePlaying());
    EXPECT_TRUE(waitUntil([] { return ownStreams().empty(); }));

    // C4 has 523.25 periods in the two seconds: the phase jumps back at every loop, as the tone
    // is built.
    tuner.toggleReference("C4");
    EXPECT_GT(largestStep(steadySpeakers(2500ms)), 0.1f);
    // The same note again stops it.
    tuner.toggleReference("C4");
    EXPECT_FALSE(tuner.isReferencePlaying());
}

TEST_F(TunerOnSoundServerTest, ListeningAndTheReferenceToneEndEachOther) {
    tuner.startDetecting();
    ASSERT_TRUE(waitUntil([&] { return tuner.isDetecting(); }));
    tuner.toggleReference("A4");
    EXPECT_FALSE(tuner.isDetecting());
    EXPECT_TRUE(tuner.isReferencePlaying());
    // A name that is no note changes the choice but not the sound.
    tuner.toggleReference("H4");
    EXPECT_EQ(tuner.referenceNote(), "H4");
    EXPECT_TRUE(tuner.isReferencePlaying());
    expectReferenceTone(speakers(), 440);

    tuner.startDetecting();
    ASSERT_TRUE(waitUntil([&] { return tuner.isDetecting(); }));
    EXPECT_FALSE(tuner.isReferencePlaying());
    EXPECT_TRUE(waitUntil([] { return ownStreams().empty(); }));
}

TEST_F(TunerOnSoundServerTest, TheToneStaysOnTheSpeakersWhileTheSystemAudioTapIsOn) {
    tuner.toggleReference("A4");
    auto server = createSoundServer();
    auto tap = server->createTap({"Zivra Tap", getpid()});
    const auto speakersSink = sinkIndex("speakers");
    // Streams started before the tap and after it alike.
    for (const char* note : {"A4", "B4"}) {
        if (tuner.referenceNote() != note) {
            tuner.toggleReference(note);
        }
        ASSERT_TRUE(waitUntil([&] { return ownStreams().size() == 1; }));
        EXPECT_FALSE(waitUntil([&] { return ownStreams().front().sink != speakersSink; }, 1s))
            << note;
    }
    expectReferenceTone(speakers(), 493.88);
}

TEST_F(TunerOnSoundServerTest, AServerThatCannotBeReachedIsATunerError) {
    const QByteArray server = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent/zivra-test");
    tuner.startDetecting();
    const bool reported = waitUntil([&] { return tuner.detectedNote() == Tuner::failed; });
    tuner.toggleReference("A4");
    qputenv("PULSE_SERVER", server);
    EXPECT_TRUE(reported);
    EXPECT_FALSE(tuner.isDetecting());
    EXPECT_FALSE(tuner.isReferencePlaying());
}

// Asked to listen while the sound server is stopped, the tuner cannot open the microphone
// then; it listens by itself once the server goes on, and opens at once when asked again.
TEST_F(TunerOnSoundServerTest, AskedToListenWhileTheServerIsStoppedItListensOnceItGoesOn) {
    const auto player = playIntoMicrophone(
        "a4", [](double t) { return 0.3f * static_cast<float>(std::sin(2 * M_PI * 440 * t)); });
    ASSERT_TRUE(waitUntil([&] { return player->sinkInput().has_value(); }));
    const auto servers = soundServerProcesses();
    ASSERT_FALSE(servers.empty());
    stopFor(servers, 5s);
    tuner.startDetecting();
    EXPECT_TRUE(waitUntil([&] { return tuner.detectedNote() == Tuner::failed; }));
    ASSERT_TRUE(waitUntil([&] { return std::ranges::none_of(servers, stopped); }, 30s));
    QElapsedTimer resumed;
    resumed.start();
    EXPECT_TRUE(hears("A4"));
    std::printf("the tuner asked during the stop reads the tone %lld ms after the server went on\n",
                static_cast<long long>(resumed.elapsed()));

    tuner.stopDetecting();
    QElapsedTimer asked;
    asked.start();
    tuner.startDetecting();
    EXPECT_TRUE(waitUntil([&] { return tuner.isDetecting(); }));
    std::printf("asked again, the tuner listens after %lld ms\n",
                static_cast<long long>(asked.elapsed()));
    EXPECT_TRUE(hears("A4"));
}

// The desktop's services with a microphone request that is counted and answered as given.
TunerEnvironment answering(bool granted, int& requests) {
    TunerEnvironment environment = TunerEnvironment::system();
    environment.requestMicrophoneAccess = [granted, &requests](auto completion) {
        ++requests;
        completion(granted);
    };
    return environment;
}

TEST_F(TunerOnSoundServerTest, ARefusedMicrophoneLeavesTheToneAndListeningAsTheyWere) {
    int requests = 0;
    Tuner refused(answering(false, requests));
    refused.toggleReference("A4");
    refused.startDetecting();
    ASSERT_TRUE(waitUntil([&] { return refused.detectedNote() == Tuner::accessDenied; }));
    EXPECT_FALSE(refused.isDetecting());
    EXPECT_TRUE(refused.isReferencePlaying());
    EXPECT_EQ(requests, 1);
}

TEST_F(TunerOnSoundServerTest, StartingAgainWhileListeningAsksNoPermissionAndChangesNothing) {
    int requests = 0;
    Tuner listening(answering(true, requests));
    listening.startDetecting();
    ASSERT_TRUE(waitUntil([&] { return listening.isDetecting(); }));
    QSignalSpy detecting(&listening, &Tuner::isDetectingChanged);
    QSignalSpy notes(&listening, &Tuner::detectedNoteChanged);
    listening.startDetecting();
    QTest::qWait(300);
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(detecting.count(), 0);
    EXPECT_EQ(notes.count(), 0);
    EXPECT_TRUE(listening.isDetecting());
}

TEST_F(TunerOnSoundServerTest, APlayerThatCannotBeMadeStopsTheToneThatSounds) {
    TunerEnvironment failing = TunerEnvironment::system();
    int players = 0;
    failing.createPlayer = [&](std::span<const std::uint8_t> wave, float volume) {
        if (++players > 1) {
            throw SoundError(-1, "no player");
        }
        return createTonePlayer(wave, volume);
    };
    Tuner tones(failing);
    tones.toggleReference("A4");
    ASSERT_TRUE(waitUntil([] { return ownStreams().size() == 1; }));
    tones.toggleReference("B4");
    EXPECT_FALSE(tones.isReferencePlaying());
    EXPECT_EQ(tones.referenceNote(), "B4");
    EXPECT_TRUE(waitUntil([] { return ownStreams().empty(); }));
}

} // namespace
} // namespace zivra::tuner
