#include "tests/audio/EngineTestSupport.h"
#include "tests/audio/ZivraAudioTestAccess.h"

#include <unistd.h>

#include <array>
#include <limits>

namespace zivra::audio {

namespace {

using Step = FakeSoundServer::Step;
using namespace std::chrono_literals;

using LifecycleTest = EngineTest;

TEST_F(LifecycleTest, PitchOnBuildsAndStartsOneGraph) {
    engine().setPitchEnabled(true);
    EXPECT_FALSE(engine().isEngineRunning()) << "the start runs in a task of its own";
    settle();
    EXPECT_TRUE(engine().isEngineRunning());
    EXPECT_EQ(engine().statusText(), "");
    EXPECT_EQ(server->lastTap.name, "Zivra Tap");
    EXPECT_EQ(server->lastTap.excludedProcessId, static_cast<long>(getpid()));
    EXPECT_EQ(server->captureName, "Zivra Aggregate");
    ASSERT_TRUE(server->graph);
    EXPECT_EQ(server->graph->format.sampleRate, 48000);
    EXPECT_EQ(server->graph->format.channels, 2u);
    EXPECT_EQ(server->graph->outputDevice, 40u);
    EXPECT_EQ(server->graph->tapFrames, 1024u);
    EXPECT_EQ(server->graph->volume, 1.0f);
    EXPECT_TRUE(server->graph->started);
    const std::vector<std::string> expected{"create tap",    "create capture", "create graph",
                                            "pitch",         "install tap",    "create ioproc",
                                            "start capture", "start graph"};
    std::vector<std::string> made;
    for (const std::string& entry : server->log) {
        if (entry != "add listener" && entry != "remove listener") {
            made.push_back(entry);
        }
    }
    EXPECT_EQ(made, expected);
}

TEST_F(LifecycleTest, SeveralFeaturesInOneTurnStartOnce) {
    engine().setPitchEnabled(true);
    engine().setRemoveVocalsEnabled(true);
    engine().setHandoffActive(true);
    settle();
    EXPECT_TRUE(engine().isEngineRunning());
    EXPECT_EQ(server->count("create tap"), 1);
    EXPECT_EQ(server->count("create graph"), 1);
    EXPECT_EQ(server->graph->volume, 0.0f);
}

TEST_F(LifecycleTest, EverythingOffTearsDownInOrder) {
    engine().setRemoveVocalsEnabled(true);
    settle();
    ZivraAudioTestAccess::setStatusText(engine(), "stale");
    const auto mark = static_cast<std::ptrdiff_t>(server->log.size());
    engine().setRemoveVocalsEnabled(false);
    EXPECT_FALSE(engine().isEngineRunning());
    EXPECT_EQ(engine().statusText(), "");
    EXPECT_EQ(
        std::vector<std::string>(server->log.begin() + mark, server->log.end()),
        (std::vector<std::string>{"remove tap", "stop capture", "destroy ioproc", "destroy capture",
                                  "destroy tap", "stop graph", "destroy graph"}));
    EXPECT_TRUE(server->nothingLeft());
    EXPECT_EQ(server->listeners.size(), 2u) << "the device list stays current";
}

TEST_F(LifecycleTest, RefusedPermissionBuildsNothingAndAsksAgainLater) {
    permission.preflight = false;
    permission.grant = false;
    int prompts = 0, grants = 0;
    engine().permissionPromptHandler = [&] { ++prompts; };
    engine().permissionGrantedHandler = [&] { ++grants; };
    engine().setPitchEnabled(true);
    settle();
    EXPECT_EQ(engine().statusText(),
              "Permission denied. Enable System Audio Recording for Zivra in System Settings.");
    EXPECT_TRUE(engine().needsRestart());
    EXPECT_FALSE(engine().isEngineRunning());
    EXPECT_EQ(server->count("create tap"), 0);
    EXPECT_EQ(prompts, 1);

    permission.grant = true;
    QStringList statuses;
    QObject::connect(&engine(), &ZivraAudio::statusTextChanged,
                     [&](const QString& text) { statuses << text; });
    engine().setRemoveVocalsEnabled(true);
    settle();
    EXPECT_EQ(permission.requests, 2);
    EXPECT_EQ(prompts, 2);
    EXPECT_EQ(grants, 1);
    EXPECT_EQ(statuses.first(), "Allow System Audio Recording to use Zivra");
    EXPECT_TRUE(engine().isEngineRunning());
    EXPECT_FALSE(engine().needsRestart());
    EXPECT_EQ(engine().statusText(), "");
}

TEST_F(LifecycleTest, AliveOnTheThirdReadSleepsTwice) {
    server->aliveOnRead = 3;
    engine().setPitchEnabled(true);
    settle();
    EXPECT_EQ(server->aliveReads, 3);
    EXPECT_EQ(sleeps, (std::vector<std::chrono::milliseconds>{10ms, 10ms}));
    EXPECT_TRUE(engine().isEngineRunning());
}

TEST_F(LifecycleTest, NeverAliveGivesUpAfter200Reads) {
    server->aliveOnRead = 0;
    engine().setPitchEnabled(true);
    settle();
    // Each start polls 200 times; the start is made again a few times.
    EXPECT_EQ(server->aliveReads, 200 * server->count("create capture"));
    EXPECT_EQ(std::ranges::count(sleeps, 10ms), server->aliveReads);
    EXPECT_EQ(engine().statusText(), "Error: Audio aggregate device did not become alive");
    EXPECT_FALSE(engine().isEngineRunning());
    EXPECT_TRUE(server->nothingLeft());
}

TEST_F(LifecycleTest, UnreadableNominalRateUsesTheTapRate) {
    server->nominalRate = 0;
    engine().setPitchEnabled(true);
    settle();
    EXPECT_EQ(server->graph->format.sampleRate, 44100);
}

TEST_F(LifecycleTest, MixerWithoutChannelsGetsNoTap) {
    server->mixerChannels = 0;
    engine().setPitchEnabled(true);
    settle();
    EXPECT_TRUE(engine().isEngineRunning());
    EXPECT_EQ(server->count("install tap"), 0);
}

TEST_F(LifecycleTest, DefaultOutputChangeRestartsOnlyWhileRunning) {
    engine();
    server->notify(zivra::platform::sound::DeviceChange::defaultSink);
    settle();
    EXPECT_EQ(server->count("create graph"), 0);

    engine().setPitchEnabled(true);
    settle();
    server->defaultSinkIndex = 41;
    server->notify(zivra::platform::sound::DeviceChange::defaultSink);
    settle();
    EXPECT_EQ(server->count("create graph"), 2);
    EXPECT_EQ(server->live("graph"), 1);
    EXPECT_EQ(server->graph->outputDevice, 41u);
    EXPECT_TRUE(engine().isEngineRunning());

    engine().setPitchEnabled(false);
    server->defaultSinkIndex = 40;
    server->notify(zivra::platform::sound::DeviceChange::defaultSink);
    settle();
    EXPECT_EQ(server->count("create graph"), 2) << "a stopped engine is not started";
}

TEST_F(LifecycleTest, DeviceListChangesRefreshTheList) {
    engine();
    server->sinkList.push_back({42, "usb", "USB Audio", 2});
    server->notify(zivra::platform::sound::DeviceChange::sinkList);
    EXPECT_EQ(engine().outputDevices().size(), 2) << "answered in a later task";
    settle();
    EXPECT_EQ(engine().outputDevices().size(), 3);
}

TEST_F(LifecycleTest, StartRequestedDuringABuildIsAbsorbed) {
    server->aliveOnRead = 3;
    engine().setPitchEnabled(true);
    runTasks();
    ASSERT_EQ(server->live("capture"), 1);
    ASSERT_EQ(server->live("graph"), 0) << "still waiting for the device";
    engine().setRemoveVocalsEnabled(true);
    runTasks();
    EXPECT_EQ(server->count("create capture"), 1);
    settle();
    EXPECT_TRUE(engine().isEngineRunning());
    EXPECT_EQ(server->count("create tap"), 1);
    EXPECT_EQ(server->count("create graph"), 1);
}

TEST_F(LifecycleTest, StopRequestedDuringABuildIsAnsweredAfterIt) {
    server->aliveOnRead = 3;
    engine().setPitchEnabled(true);
    runTasks();
    engine().setPitchEnabled(false);
    settle();
    EXPECT_FALSE(engine().isEngineRunning());
    EXPECT_TRUE(server->nothingLeft());
}

TEST_F(LifecycleTest, CleanupDuringABuildAbandonsIt) {
    server->aliveOnRead = 3;
    engine().setPitchEnabled(true);
    runTasks();
    engine().cleanup();
    settle();
    EXPECT_FALSE(engine().isEngineRunning());
    EXPECT_TRUE(server->nothingLeft());
    EXPECT_EQ(engine().statusText(), "");
}

TEST_F(LifecycleTest, CleanupIsHarmlessTwiceAndBeforeAnyRun) {
    engine().cleanup();
    engine().cleanup();
    EXPECT_TRUE(server->nothingLeft());
    engine().setPitchEnabled(true);
    settle();
    engine().cleanup();
    engine().cleanup();
    EXPECT_TRUE(server->nothingLeft());
}

TEST_F(LifecycleTest, TapBuffersFeedTheStreamerAndTheMeters) {
    int appended = 0;
    engine().handoffAppendHandler = [&](const AudioPCMBuffer& buffer) {
        appended += static_cast<int>(buffer.frameLength);
    };
    engine().setPitchEnabled(true);
    settle();
    std::vector<float> samples(1024, 0.5f);
    const float* channels[] = {samples.data(), samples.data()};
    const auto tap = server->graph->tap;
    tap(AudioPCMBuffer{channels, 2, 1024, 48000});
    EXPECT_EQ(appended, 1024);
    settle();
    EXPECT_FLOAT_EQ(engine().outputLevel(), 0.5f);
    EXPECT_EQ(engine().waveformSamples(), QList<float>(28, 0.5f));

    engine_.reset();
    tap(AudioPCMBuffer{channels, 2, 1024, 48000});
    settle();
    EXPECT_EQ(appended, 2048) << "the streamer hears the tap after the engine is gone";
}

struct Failure {
    Step step;
    const char* message;
};

class SetupFailureTest : public EngineTest, public ::testing::WithParamInterface<Failure> {};

TEST_P(SetupFailureTest, LeavesNothingBehindAndShowsTheMessage) {
    server->failAt = GetParam().step;
    engine().setPitchEnabled(true);
    settle();
    EXPECT_EQ(engine().statusText(), QString("Error: ") + GetParam().message);
    EXPECT_FALSE(engine().isEngineRunning());
    EXPECT_TRUE(server->nothingLeft());
    EXPECT_TRUE(engine().pitchEnabled()) << "settings stay as they are";

    server->failAt = Step::none;
    engine().setPitchEnabled(true);
    settle();
    EXPECT_TRUE(engine().isEngineRunning()) << "the next request tries again";
}

INSTANTIATE_TEST_SUITE_P(EveryStep, SetupFailureTest,
                         ::testing::Values(Failure{Step::defaultSink, "fake failure"},
                                           Failure{Step::createTap, "fake failure"},
                                           Failure{Step::tapFormat, "Could not read tap format"},
                                           Failure{Step::createCaptureDevice, "fake failure"},
                                           Failure{Step::createGraph, "fake failure"},
                                           Failure{Step::graphIsNull, "Could not create engine"},
                                           Failure{Step::createIOProc, "fake failure"},
                                           Failure{Step::captureStart, "fake failure"},
                                           Failure{Step::graphStart, "fake failure"}));

// A sink removed between the look-up and the stream's connection fails a
// start now and then while devices come and go; the engine is still needed.
TEST_F(LifecycleTest, AFailedStartIsMadeAgainAfterAShortWait) {
    server->failAt = Step::graphStart;
    engine().setPitchEnabled(true);
    runTasks();
    EXPECT_EQ(engine().statusText(), "Error: fake failure");
    ASSERT_EQ(pendingSleeps.size(), 1u);
    EXPECT_EQ(sleeps.back(), 100ms);
    server->failAt = Step::none;
    settle();
    EXPECT_TRUE(engine().isEngineRunning());
    EXPECT_EQ(engine().statusText(), "");
    EXPECT_EQ(server->live("tap"), 1);
}

TEST_F(LifecycleTest, AStartFailingOnTheSameDevicesIsGivenUpUntilTheyChange) {
    server->failAt = Step::graphStart;
    engine().setPitchEnabled(true);
    settle();
    EXPECT_EQ(server->count("create tap"), 8);
    EXPECT_EQ(sleeps, (std::vector<std::chrono::milliseconds>{100ms, 200ms, 400ms, 800ms, 1600ms,
                                                              1600ms, 1600ms}));
    EXPECT_EQ(engine().statusText(), "Error: fake failure");
    EXPECT_TRUE(server->nothingLeft());

    server->failAt = Step::none;
    server->sinkList.push_back({42, "usb", "USB Audio", 2});
    server->notify(zivra::platform::sound::DeviceChange::sinkList);
    settle();
    EXPECT_TRUE(engine().isEngineRunning());

    server->failAt = Step::graphStart;
    engine().setPitchEnabled(false);
    server->notify(zivra::platform::sound::DeviceChange::sinkList);
    settle();
    EXPECT_EQ(server->count("create tap"), 9) << "nothing needs the engine";
}

// A server that answers each request later than a click waits: every start
// fails, shown as waiting, and is not tried again on a timer. It is tried when
// the server answers, at once the first time, then only after a wait that
// doubles, so that the popover does not freeze every few seconds.
TEST_F(LifecycleTest, StartsThatTheServerLeavesUnansweredAreTriedLessOften) {
    server->failAt = Step::graphStart;
    server->unanswered = true;
    engine().setPitchEnabled(true);
    runTasks();
    EXPECT_EQ(engine().statusText(), "Waiting for the sound server");
    EXPECT_TRUE(pendingSleeps.empty());
    for (int answer = 0; answer < 5; ++answer) {
        server->serverListener(true);
        settle();
    }
    EXPECT_EQ(server->count("create tap"), 6);
    EXPECT_EQ(sleeps, (std::vector<std::chrono::milliseconds>{1s, 2s, 4s, 8s}));
    EXPECT_EQ(engine().statusText(), "Waiting for the sound server");

    server->failAt = Step::none;
    server->unanswered = false;
    server->serverListener(true);
    settle();
    EXPECT_TRUE(engine().isEngineRunning());
    EXPECT_EQ(engine().statusText(), "");
}

// Every click while the server stays silent fails the start the same way:
// the log says so once, and again only in a later silence.
TEST_F(LifecycleTest, AStartFailingWhileTheServerIsSilentIsSaidOncePerSilence) {
    static int said;
    said = 0;
    static QtMessageHandler logged = nullptr;
    logged = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            said += text.startsWith("The engine did not start") ? 1 : 0;
            logged(type, context, text);
        });
    server->failAt = Step::createTap;
    server->unanswered = true;
    for (int click = 0; click < 3; ++click) {
        engine().setPitchEnabled(true);
        settle();
        engine().setPitchEnabled(false);
    }
    EXPECT_EQ(said, 1);

    server->unanswered = false;
    server->serverListener(true);
    server->unanswered = true;
    engine().setPitchEnabled(true);
    settle();
    qInstallMessageHandler(logged);
    EXPECT_EQ(said, 2) << "a later silence";
}

// An output chosen while a wait runs out is carried out when the server
// answers again; the engine that ran meanwhile moves there and keeps its tap.
TEST_F(LifecycleTest, AnOutputChosenWhileTheServerDoesNotAnswerIsMadeWhenItAnswers) {
    engine().setPitchEnabled(true);
    settle();
    ASSERT_TRUE(engine().isEngineRunning());
    server->unanswered = true;
    server->setDefaultStatus = -1;
    engine().setSelectedOutputID(41);
    runTasks();
    EXPECT_EQ(engine().statusText(), "");
    EXPECT_EQ(server->graph->outputDevice, 40u);

    server->unanswered = false;
    server->setDefaultStatus = 0;
    server->serverListener(true);
    settle();
    EXPECT_EQ(server->defaultSinkIndex, 41u);
    EXPECT_EQ(server->graph->outputDevice, 41u);
    EXPECT_EQ(server->count("create tap"), 1);
}

// A restart meets a moment with no output at all: the engine starts at the
// next device that comes.
TEST_F(LifecycleTest, ARestartThatFindsNoOutputStartsOnTheNextDevice) {
    engine().setPitchEnabled(true);
    settle();
    server->endCapture();
    QCoreApplication::sendPostedEvents(); // the news, not yet the start it asks for
    server->sinkList.clear();
    server->defaultSinkIndex.reset();
    settle();
    EXPECT_EQ(engine().statusText(), "Error: No default output device");
    EXPECT_TRUE(server->nothingLeft());
    EXPECT_TRUE(pendingSleeps.empty()) << "no device to try on";

    server->sinkList = {{43, "usb", "USB Audio", 2}};
    server->defaultSinkIndex = 43;
    server->notify(zivra::platform::sound::DeviceChange::sinkList);
    settle();
    EXPECT_TRUE(engine().isEngineRunning());
    EXPECT_EQ(server->graph->outputDevice, 43u);
}

// Only the playback side follows the output: the tap keeps the programs.
TEST_F(LifecycleTest, AnotherOutputKeepsTheTap) {
    engine().setPitchEnabled(true);
    settle();
    engine().setSelectedOutputID(41);
    settle();
    EXPECT_EQ(server->count("create tap"), 1);
    EXPECT_EQ(server->count("create graph"), 2);
    EXPECT_EQ(server->graph->outputDevice, 41u);
    EXPECT_TRUE(server->graph->started);
    EXPECT_TRUE(server->capture) << "the capture feeds the new graph";

    // An output that cannot be opened this moment is tried again; the tap stays.
    server->failAt = Step::graphStart;
    engine().setSelectedOutputID(40);
    runTasks();
    EXPECT_EQ(engine().statusText(), "Waiting for an output device");
    server->failAt = Step::none;
    settle();
    EXPECT_EQ(server->graph->outputDevice, 40u);
    EXPECT_TRUE(server->graph->started);
    EXPECT_EQ(server->count("create tap"), 1);
    EXPECT_EQ(engine().statusText(), "");
}

TEST_F(LifecycleTest, AnEndedCaptureStreamOrARemovedTapIsBuiltAgain) {
    engine().setPitchEnabled(true);
    settle();
    server->endCapture();
    settle();
    EXPECT_EQ(server->count("create tap"), 2);
    server->tapRemoved = true;
    server->notify(zivra::platform::sound::DeviceChange::sinkList);
    settle();
    EXPECT_EQ(server->count("create tap"), 3);
    EXPECT_EQ(server->live("tap"), 1);
    EXPECT_TRUE(engine().isEngineRunning());
}

TEST_F(LifecycleTest, NoDefaultOutputDevice) {
    server->defaultSinkIndex.reset();
    server->sinkList.clear();
    engine().setPitchEnabled(true);
    settle();
    EXPECT_EQ(engine().statusText(), "Error: No default output device");
    EXPECT_TRUE(server->nothingLeft());
}

TEST_F(LifecycleTest, TapRateThatNoFormatCanCarry) {
    server->nominalRate = 0;
    server->tapFormat.sampleRate = std::numeric_limits<double>::infinity();
    engine().setPitchEnabled(true);
    settle();
    EXPECT_EQ(engine().statusText(), "Error: Could not create audio format");
    EXPECT_TRUE(server->nothingLeft());
}

TEST_F(LifecycleTest, OutputDeviceWithoutUid) {
    server->sinkList[0].name.clear();
    engine().setPitchEnabled(true);
    settle();
    EXPECT_EQ(engine().statusText(), "Error: Could not read output device UID");
    EXPECT_TRUE(server->nothingLeft());
}

} // namespace

namespace {

// Linux has no recording permission to ask for: the shared permission object
// lets the start go ahead without a prompt.
TEST_F(LifecycleTest, LinuxPermissionIsGrantedWithoutAPrompt) {
    int prompts = 0;
    ZivraAudioEnvironment environment;
    environment.sound = server;
    ZivraAudio audio(std::move(environment));
    audio.permissionPromptHandler = [&] { ++prompts; };
    audio.setRemoveVocalsEnabled(true);
    settle();
    EXPECT_TRUE(audio.isEngineRunning());
    EXPECT_EQ(prompts, 0);
    bool granted = false;
    ZivraAudioPermission::shared().requestAudioCapturePermission([&](bool g) { granted = g; });
    EXPECT_TRUE(granted);
}

} // namespace

} // namespace zivra::audio
