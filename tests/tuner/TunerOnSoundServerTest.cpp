// The tuner on the private sound server: tones played into "micfeed" reach it as the default
// source "mic"; its reference tone plays on the default sink "speakers".
#include "app/PanelButton.h"
#include "app/TunerPanel.h"
#include "platform/sound/Microphone.h"
#include "platform/sound/SoundError.h"
#include "platform/sound/SoundServer.h"
#include "tests/platform/sound/support/SoundServerTools.h"
#include "tests/platform/sound/support/ToneAnalysis.h"
#include "tuner/Tuner.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <optional>

using namespace std::chrono_literals;
using namespace zivra::platform::sound;

namespace zivra::tuner {
namespace {

// A sine of amplitude 0.5 played at volume 0.5: RMS 0.25 / sqrt(2).
constexpr double referenceRmsDb = -15.05;

class TunerOnSoundServerTest : public ::testing::Test {
protected:
    // A file of the tone, to be played into the microphone.
    QString toneFile(const QString& name, std::function<float(double seconds)> wave) {
        const QString path = dir.filePath(name + ".wav");
        writeWave(path, testRate, 30, [&](std::size_t i) {
            const float s = wave(static_cast<double>(i) / testRate);
            return std::pair{s, s};
        });
        return path;
    }

    // The tone played into the microphone until the player goes away.
    std::unique_ptr<Player> playIntoMicrophone(const QString& name,
                                               std::function<float(double seconds)> wave) {
        return std::make_unique<Player>(toneFile(name, std::move(wave)), "micfeed");
    }

    static float a4(double t) { return 0.3f * static_cast<float>(std::sin(2 * M_PI * 440 * t)); }

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
    // recording: a busy machine can insert a run of silence, whose edges would pass for clicks,
    // or drop a piece, a step above `smoothStep` when given. A click of the tone itself recurs
    // at each of its loops, in every take.
    static std::vector<float> steadySpeakers(std::chrono::milliseconds duration,
                                             std::optional<float> smoothStep = std::nullopt) {
        std::vector<float> heard;
        for (int attempt = 0; attempt < 3; ++attempt) {
            heard = speakers(duration);
            const float silence[48] = {};
            if (std::search(heard.begin(), heard.end(), std::begin(silence), std::end(silence)) ==
                    heard.end() &&
                (!smoothStep || largestStep(heard) < *smoothStep)) {
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

    // Asked to listen while the sound server is stopped, the tuner cannot open the microphone
    // then: it shows that it listens, not an error, records within moments of the server going
    // on and reads a tone played then, and opens at once when asked again. The tone starts after
    // the stop, which a player may not live through. A stopped server whose listen queue is full
    // (other programs' handshakes) refuses a connection at once, as one that ended does.
    enum class Queue { asItIs, full };
    void listenThroughAStop(std::chrono::seconds stop, Queue queue = Queue::asItIs) {
        const QString tone = toneFile("a4", a4);
        const auto servers = soundServerProcesses();
        ASSERT_FALSE(servers.empty());
        QSignalSpy notes(&tuner, &Tuner::detectedNoteChanged);
        stopFor(servers, stop);
        if (queue == Queue::full) {
            EXPECT_GT(fillListenQueue(), 0);
        }
        tuner.startDetecting();
        ASSERT_TRUE(waitUntil(triedOnce));
        EXPECT_TRUE(tuner.isDetecting());
        EXPECT_EQ(tuner.detectedNote(), Tuner::listening);
        EXPECT_TRUE(std::ranges::all_of(servers, stopped)) << "shown only once the server went on";
        ASSERT_TRUE(waitUntil([&] { return std::ranges::none_of(servers, stopped); }, stop + 30s));
        QElapsedTimer resumed;
        resumed.start();
        Player player(tone, "micfeed");
        EXPECT_TRUE(waitUntil([] { return ownRecordings() > 0; }, 2s));
        const qint64 recording = resumed.elapsed();
        // Read once the server sends the first sound, which PulseAudio 16 does up to two seconds
        // after a stop, also to a stream made then: printed, not bounded.
        EXPECT_TRUE(hears("A4"));
        std::printf("after a stop of %lld s the tuner records %lld ms and reads the tone %lld ms "
                    "after the server went on\n",
                    static_cast<long long>(stop.count()), static_cast<long long>(recording),
                    static_cast<long long>(resumed.elapsed()));
        EXPECT_FALSE(std::ranges::any_of(notes, [](const QList<QVariant>& note) {
            return note.front().toString() == Tuner::failed;
        }));

        tuner.stopDetecting();
        QElapsedTimer asked;
        asked.start();
        tuner.startDetecting();
        EXPECT_TRUE(waitUntil([&] { return tuner.isDetecting(); }));
        std::printf("asked again, the tuner listens after %lld ms\n",
                    static_cast<long long>(asked.elapsed()));
        EXPECT_TRUE(hears("A4"));
    }

    // Whether the tuner has shown what its first try to open the microphone brought.
    std::function<bool()> triedOnce = [this] {
        return tuner.isDetecting() || tuner.detectedNote() == Tuner::failed;
    };

    // The tuner's recording streams on the server: one while it listens. The engine, when on,
    // records the tap's monitor beside it.
    static int ownRecordings() {
        const QJsonArray outputs = pactlJson({"list", "source-outputs"});
        return static_cast<int>(std::ranges::count_if(outputs, [](const QJsonValue& output) {
            const QJsonValue properties = output["properties"];
            return properties["application.process.id"].toString().toLong() == getpid() &&
                   properties["media.name"].toString() == "Zivra Tuner";
        }));
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
        // The readings of the steady tone name it; the cents wander by the few (up to 6 for E3)
        // that the correlation's falling overlap adds. Every buffer phase is the sweep test's:
        // here eight readings in a row must hold at most one miss, since a busy machine can drop
        // pieces of the microphone's stream for a while.
        std::deque<bool> lastEight;
        int count = 0;
        std::string readings;
        const auto connection = QObject::connect(&tuner, &Tuner::detectedCentsChanged, [&] {
            ++count;
            lastEight.push_back(tuner.detectedNote() == tone.note &&
                                std::llabs(tuner.detectedCents()) <= 10);
            if (lastEight.size() > 8) {
                lastEight.pop_front();
            }
            readings += " " + tuner.detectedNote().toStdString() + " " +
                        std::to_string(tuner.detectedCents());
        });
        const bool named = waitUntil([&] {
            return (lastEight.size() == 8 && std::ranges::count(lastEight, false) <= 1) ||
                   count >= 40;
        });
        QObject::disconnect(connection);
        EXPECT_TRUE(named && count < 40) << tone.note.toStdString() << ":" << readings;
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
    // 880 whole periods in the two seconds: the loop point is as smooth as the sine.
    const float slope = static_cast<float>(2 * M_PI * 440 / testRate * 0.25);
    const auto heard = steadySpeakers(2500ms, slope * 1.2f);
    expectReferenceTone(heard, 440);
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

TEST_F(TunerOnSoundServerTest, AskedToListenWhileTheServerIsStoppedItListensOnceItGoesOn) {
    listenThroughAStop(5s);
}

TEST_F(TunerOnSoundServerTest,
       AskedToListenWhileTheServerIsStoppedWithItsListenQueueFullItListensOnceItGoesOn) {
    listenThroughAStop(5s, Queue::full);
}

// Longer than libpulse waits for a handshake (about 30 s): an entry of its own, beside the rest.
TEST_F(TunerOnSoundServerTest,
       AskedToListenWhileTheServerIsStoppedLongerThanLibpulseWaitsItListensOnceItGoesOn) {
    listenThroughAStop(100s);
}

// The answer that ends a stop may come before the server can serve the tuner: here the server
// is stopped again at that answer, so that the try made at once fails, and goes on once it has.
// Its answers then come at once, and the tuner listens without the pause kept for a server too
// slow to use.
TEST_F(TunerOnSoundServerTest, AskedWhileTheServerIsStoppedItTriesAtOnceWhenItAnswersInTime) {
    const auto servers = soundServerProcesses();
    ASSERT_FALSE(servers.empty());
    stopFor(servers, 4s);
    tuner.startDetecting();
    ASSERT_TRUE(waitUntil(triedOnce));
    ASSERT_TRUE(std::ranges::all_of(servers, stopped)) << "the first try came after the stop";
    const auto signalServers = [servers](int number) {
        for (const pid_t server : servers) {
            ::kill(server, number);
        }
    };
    auto armed = std::make_shared<std::atomic<bool>>(true);
    auto stoppedAgain = std::make_shared<std::atomic<bool>>(false);
    const auto goOn = qScopeGuard([&] {
        *armed = false;
        signalServers(SIGCONT);
    });
    whenServerAnswers([signalServers, armed, stoppedAgain] {
        if (armed->exchange(false)) {
            signalServers(SIGSTOP);
            *stoppedAgain = true;
        }
    });
    ASSERT_TRUE(waitUntil([&] { return stoppedAgain->load(); }, 30s));
    // The tuner asked first, so it heard of the answer first: the try it posted then is made
    // here, while the server is stopped again.
    QCoreApplication::sendPostedEvents();
    signalServers(SIGCONT);
    QElapsedTimer resumed;
    resumed.start();
    EXPECT_TRUE(waitUntil([] { return ownRecordings() > 0; }, 5s))
        << "paused as behind a server too slow to use";
    std::printf("stopped again at its first answer, the tuner records %lld ms after the server "
                "went on again\n",
                static_cast<long long>(resumed.elapsed()));
    EXPECT_TRUE(tuner.isDetecting());
}

// The user asks with the panel's button during a stop and, seeing it listen, stops it: no
// microphone opens once the server goes on.
TEST_F(TunerOnSoundServerTest, StoppedWhileTheServerIsStoppedItOpensNoMicrophoneOnceItGoesOn) {
    app::TunerPanel panel(tuner, [] {});
    panel.show();
    const auto servers = soundServerProcesses();
    ASSERT_FALSE(servers.empty());
    stopFor(servers, 5s);
    QTest::mouseClick(panel.listenButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil(triedOnce));
    EXPECT_EQ(panel.listenButton()->title(), "Stop listening");
    QTest::mouseClick(panel.listenButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return std::ranges::none_of(servers, stopped); }, 30s));
    EXPECT_FALSE(waitUntil([] { return ownRecordings() > 0; }, 10s));
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

// Behind a server that answers every request 1.6 s late, a little later than the microphone
// waits, the tuner waits as listening without freezing the popover every few seconds: in half a
// minute at most three stops of the main thread over a second, the click's among them, and one
// warning. Each try takes over a connection left under way or made, and asking for the next
// answer adds none: Zivra's connections (each a thread, its descriptors and a client of the
// server) are as many after the last try as after the first.
TEST_F(TunerOnSoundServerTest, BehindAServerTooSlowToUseItTriesSeldomAndSaysItOnce) {
    if (!pactl({"info"}).contains("PipeWire")) {
        GTEST_SKIP() << "a proxy that passes no descriptors cannot carry PulseAudio's handshake";
    }
    const QByteArray server = qgetenv("PULSE_SERVER");
    const QString slow = dir.filePath("slow");
    QProcess proxy;
    ASSERT_TRUE(startDelayingProxy(proxy, slow, {"1.6"}));
    useServerForTools(server);
    qputenv("PULSE_SERVER", ("unix:" + slow).toUtf8());
    static int warnings;
    static QtMessageHandler logged;
    warnings = 0;
    logged = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            warnings += type == QtWarningMsg && context.category == QStringLiteral("zivra.tuner");
            logged(type, context, text);
        });
    // Between tries the microphone is closed: a thread of its name is its connection left under
    // way.
    const auto connections = [] {
        return threadsNamed("zivra.spare").size() + threadsNamed("zivra.microphon").size();
    };
    std::vector<qint64> gaps;
    std::vector<std::size_t> connectionsAfterTries;
    QElapsedTimer sinceTick;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (const qint64 gap = sinceTick.restart(); gap > 1000) {
            gaps.push_back(gap);
            connectionsAfterTries.push_back(connections());
        }
    });
    sinceTick.start();
    tick.start(10);
    tuner.startDetecting();
    EXPECT_FALSE(waitUntil([&] { return gaps.size() > 3 || warnings > 1; }, 30s));
    EXPECT_GE(gaps.size(), 2u) << "no try at once after the server answered";
    EXPECT_TRUE(tuner.isDetecting());
    std::printf("behind the slow proxy in 30 s: %zu main-thread gaps over a second (ms:",
                gaps.size());
    for (const qint64 gap : gaps) {
        std::printf(" %lld", static_cast<long long>(gap));
    }
    std::printf("), %d warning lines from the tuner\n", warnings);
    connectionsAfterTries.push_back(connections());
    std::printf("Zivra's connections after each try and at the end:");
    for (const std::size_t count : connectionsAfterTries) {
        std::printf(" %zu", count);
    }
    std::printf("\n");
    EXPECT_LE(std::ranges::max(connectionsAfterTries), connectionsAfterTries.front())
        << "a connection more for each try";
    tuner.stopDetecting();
    qInstallMessageHandler(logged);
    qputenv("PULSE_SERVER", server);
    useServerForTools({});
}

} // namespace
} // namespace zivra::tuner
