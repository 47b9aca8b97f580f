#include "tests/audio/EngineTestSupport.h"
#include "tests/audio/ZivraAudioTestAccess.h"

#include <array>
#include <cmath>
#include <limits>

namespace zivra::audio {

namespace {

class SettingsTest : public EngineTest {
protected:
    // Starts the engine with pitch shifting so that a graph exists.
    void startWithPitch() {
        engine().setPitchEnabled(true);
        settle();
        ASSERT_TRUE(engine().isEngineRunning());
    }
    // One frame through the running graph's capture and render blocks.
    std::pair<float, float> renderOne(float l, float r) {
        std::array<float, 2> in{l, r};
        const std::array input{zivra::platform::sound::AudioBuffer{2, 8, in.data()}};
        server->capture(input);
        std::array<float, 1> left{}, right{};
        std::array output{zivra::platform::sound::AudioBuffer{1, 4, left.data()},
                          zivra::platform::sound::AudioBuffer{1, 4, right.data()}};
        bool silence = true;
        server->graph->source(silence, 1, output);
        EXPECT_FALSE(silence);
        return {left[0], right[0]};
    }
};

TEST_F(SettingsTest, EveryAssignmentNotifiesAlsoOfAnEqualValue) {
    ZivraAudio& audio = engine();
    int pitch = 0, volume = 0, mode = 0, status = 0;
    QObject::connect(&audio, &ZivraAudio::pitchEnabledChanged, [&] { ++pitch; });
    QObject::connect(&audio, &ZivraAudio::volumeChanged, [&] { ++volume; });
    QObject::connect(&audio, &ZivraAudio::vocalRemovalModeChanged, [&] { ++mode; });
    QObject::connect(&audio, &ZivraAudio::statusTextChanged, [&] { ++status; });
    audio.setPitchEnabled(false);
    audio.setPitchEnabled(false);
    audio.setVolume(1.0f);
    audio.setVocalRemovalMode(VocalRemovalMode::off);
    ZivraAudioTestAccess::setStatusText(audio, QString());
    EXPECT_EQ(pitch, 2);
    EXPECT_EQ(volume, 1);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(status, 1);
}

TEST_F(SettingsTest, PitchEnabledAgainStillPushesEvaluatesAndBroadcasts) {
    startWithPitch();
    const auto pushes = server->graph->pitches.size();
    const int before = broadcasts;
    engine().setPitchEnabled(true);
    settle();
    EXPECT_EQ(server->graph->pitches.size(), pushes + 1);
    EXPECT_EQ(broadcasts, before + 1);
    EXPECT_EQ(server->count("create graph"), 1);
}

TEST_F(SettingsTest, PitchReachesTheTimePitchStage) {
    startWithPitch();
    engine().setPitchCents(-500);
    EXPECT_EQ(server->graph->pitches.back(), -500.0f);
    EXPECT_EQ(server->graph->bypasses.back(), false);
    engine().setRemoveVocalsEnabled(true);
    engine().setPitchEnabled(false);
    EXPECT_EQ(server->graph->pitches.back(), 0.0f);
    EXPECT_EQ(server->graph->bypasses.back(), true);
}

TEST_F(SettingsTest, CentsSideEffectsRunInOrder) {
    startWithPitch();
    std::vector<std::string> events;
    server->log.clear();
    QObject::connect(&engine(), &ZivraAudio::pitchSemitonesChanged, [&] {
        events.push_back("semitones after " + std::to_string(server->count("pitch")));
    });
    engine().broadcastStateHandler = [&] { events.push_back("broadcast"); };
    engine().setPitchCents(200);
    EXPECT_EQ(events, (std::vector<std::string>{"semitones after 1", "broadcast"}));
}

TEST_F(SettingsTest, UnroundedCentsSetSemitonesButStay) {
    ZivraAudio& audio = engine();
    audio.setPitchCents(250);
    EXPECT_EQ(audio.pitchSemitones(), 3);
    EXPECT_EQ(audio.pitchCents(), 250.0f);
    audio.setPitchCents(-250);
    EXPECT_EQ(audio.pitchSemitones(), -3);
    EXPECT_EQ(audio.pitchCents(), -250.0f);
}

TEST_F(SettingsTest, SwitchingToSemitonesSnapsTheCents) {
    ZivraAudio& audio = engine();
    audio.setPitchControlMode(PitchControlMode::cents);
    audio.setPitchCents(250);
    int before = broadcasts;
    audio.setPitchControlMode(PitchControlMode::semitones);
    EXPECT_EQ(audio.pitchCents(), 300.0f);
    EXPECT_EQ(audio.pitchSemitones(), 3);
    EXPECT_EQ(broadcasts, before + 1);

    audio.setPitchCents(250);
    before = broadcasts;
    audio.setPitchControlMode(PitchControlMode::cents);
    EXPECT_EQ(audio.pitchCents(), 250.0f);
    EXPECT_EQ(broadcasts, before);
}

TEST_F(SettingsTest, SemitonesMoveTheCentsOnlyInSemitonesMode) {
    ZivraAudio& audio = engine();
    audio.setPitchControlMode(PitchControlMode::cents);
    audio.setPitchSemitones(2);
    EXPECT_EQ(audio.pitchCents(), 0.0f);
    audio.setPitchControlMode(PitchControlMode::semitones);
    audio.setPitchSemitones(-4);
    EXPECT_EQ(audio.pitchCents(), -400.0f);
}

TEST_F(SettingsTest, CentsThatCannotBecomeSemitonesAreRefused) {
    ZivraAudio& audio = engine();
    audio.setPitchCents(700);
    int notified = 0;
    QObject::connect(&audio, &ZivraAudio::pitchCentsChanged, [&] { ++notified; });
    const int before = broadcasts;
    for (float refused :
         {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
          -std::numeric_limits<float>::infinity(), 1e30f, -1e21f}) {
        audio.setPitchCents(refused);
        EXPECT_EQ(audio.pitchCents(), 700.0f) << refused;
    }
    EXPECT_EQ(notified, 0);
    EXPECT_EQ(broadcasts, before);
    EXPECT_EQ(audio.pitchSemitones(), 7);
    audio.setPitchCents(1e20f); // a quotient of about 1e18 fits
    EXPECT_EQ(audio.pitchCents(), 1e20f);
    EXPECT_GT(audio.pitchSemitones(), 999999000000000000);
}

TEST_F(SettingsTest, RemoveVocalsKeepsAChosenModeAndPicksKaraokeFromOff) {
    ZivraAudio& audio = engine();
    audio.setVocalRemovalMode(VocalRemovalMode::wide);
    audio.setRemoveVocalsEnabled(true);
    EXPECT_EQ(audio.vocalRemovalMode(), VocalRemovalMode::wide);
    settle();

    audio.setRemoveVocalsEnabled(false);
    EXPECT_EQ(audio.vocalRemovalMode(), VocalRemovalMode::off);
    const int before = broadcasts;
    audio.setRemoveVocalsEnabled(true);
    EXPECT_EQ(audio.vocalRemovalMode(), VocalRemovalMode::karaoke);
    EXPECT_EQ(audio.vocalMono(), 0.0f);
    EXPECT_EQ(audio.vocalKaraoke(), 1.0f);
    EXPECT_EQ(broadcasts, before + 2) << "the mode change and the toggle each broadcast";
}

TEST_F(SettingsTest, RemoveVocalsOffClearsThePairForTheRenderPath) {
    startWithPitch();
    ZivraAudio& audio = engine();
    audio.setRemoveVocalsEnabled(true);
    EXPECT_EQ(renderOne(0.5f, 0.1f), std::make_pair(0.2f, -0.2f));
    audio.setRemoveVocalsEnabled(false);
    EXPECT_EQ(audio.vocalRemovalMode(), VocalRemovalMode::off);
    EXPECT_EQ(audio.vocalMono(), 0.0f);
    EXPECT_EQ(audio.vocalKaraoke(), 0.0f);
    EXPECT_EQ(renderOne(0.5f, 0.1f), std::make_pair(0.5f, 0.1f));
}

TEST_F(SettingsTest, VolumeAndDualMonoReachTheRenderPathWithoutBroadcast) {
    startWithPitch();
    const int before = broadcasts;
    engine().setVolume(0.5f);
    engine().setDualMonoOutput(true);
    EXPECT_EQ(renderOne(0.5f, 0.1f), std::make_pair(0.25f, 0.25f));
    EXPECT_EQ(broadcasts, before);
}

TEST_F(SettingsTest, SliderMovesSwitchToCustomBeyondTheTolerance) {
    ZivraAudio& audio = engine();
    audio.setVocalRemovalMode(VocalRemovalMode::wide);
    audio.setVocalMono(0.255f);
    EXPECT_EQ(audio.vocalRemovalMode(), VocalRemovalMode::wide);
    const int before = broadcasts;
    audio.setVocalMono(0.27f);
    EXPECT_EQ(audio.vocalRemovalMode(), VocalRemovalMode::custom);
    EXPECT_EQ(audio.vocalMono(), 0.27f);
    EXPECT_EQ(audio.vocalKaraoke(), 0.75f);
    EXPECT_EQ(broadcasts, before + 1);
}

TEST_F(SettingsTest, OffAndCustomNeverSwitchOnSliderMoves) {
    ZivraAudio& audio = engine();
    audio.setVocalKaraoke(0.6f);
    EXPECT_EQ(audio.vocalRemovalMode(), VocalRemovalMode::off);
    audio.setVocalRemovalMode(VocalRemovalMode::custom);
    EXPECT_EQ(audio.vocalKaraoke(), 0.6f) << "custom keeps the current pair";
    audio.setVocalMono(0.9f);
    EXPECT_EQ(audio.vocalRemovalMode(), VocalRemovalMode::custom);
}

TEST_F(SettingsTest, HandoffActiveTwiceActsOnce) {
    ZivraAudio& audio = engine();
    int notified = 0;
    QObject::connect(&audio, &ZivraAudio::handoffActiveChanged, [&] { ++notified; });
    audio.setHandoffActive(true);
    audio.setHandoffActive(true);
    settle();
    EXPECT_EQ(notified, 1);
    EXPECT_EQ(broadcasts, 0);
    EXPECT_TRUE(audio.isEngineRunning());
    EXPECT_EQ(server->count("create graph"), 1);
    EXPECT_EQ(server->graph->volume, 0.0f) << "the phone listens, the computer is silent";
    audio.setHandoffActive(false);
    settle();
    EXPECT_FALSE(audio.isEngineRunning());
}

TEST_F(SettingsTest, ModesReadAndWriteTheirRawStrings) {
    for (VocalRemovalMode mode : allVocalRemovalModes) {
        EXPECT_EQ(vocalRemovalModeFromRaw(rawValue(mode)), mode);
    }
    EXPECT_EQ(rawValue(VocalRemovalMode::aggressive), "Aggressive");
    EXPECT_FALSE(vocalRemovalModeFromRaw("karaoke"));
    EXPECT_FALSE(vocalRemovalModeFromRaw(""));
    EXPECT_EQ(pitchControlModeFromRaw("Cents"), PitchControlMode::cents);
    EXPECT_FALSE(pitchControlModeFromRaw("cents"));
}

} // namespace

} // namespace zivra::audio
