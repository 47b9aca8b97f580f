#include "handoff/MediaController.h"
#include "handoff/NowPlayingProvider.h"
#include "handoff/PlayerScriptTexts.h"
#include "platform/playerscript/PlayerScripts.h"
#include "tests/handoff/FakeMediaKeys.h"
#include "tests/handoff/QStringPrinting.h"
#include "tests/platform/playerscript/PeerProcess.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace zivra::platform::playerscript {

using Status = handoff::NowPlayingProvider::MediaControlPermissionStatus;
using Track = handoff::NowPlayingProvider::Track;

namespace {

PlayerScripts& players() {
    return systemPlayerScripts();
}

QStringList running() {
    return players().runningApplications();
}

// The track once the player reports one that satisfies `wanted`.
std::optional<Track> trackOnceItIs(const QString& app,
                                   const std::function<bool(const Track&)>& wanted) {
    std::optional<Track> track;
    eventually([&] {
        track = handoff::NowPlayingProvider::track(app);
        return track && wanted(*track);
    });
    return track;
}

// Sends one command through a controller whose keys are trusted but go nowhere, so that only
// the scripts reach the players.
void sendCommand(handoff::MediaController::Command command) {
    handoff::FakeMediaKeys keys;
    handoff::MediaController controller(keys, players());
    controller.send(command);
    QCoreApplication::processEvents();
    ASSERT_EQ(keys.events.size(), 2u);
}

double volumeOf(const QString& busSuffix) {
    return outputOf("playerctl", {"-p", busSuffix, "volume"}).toDouble();
}

class PlayersTest : public testing::Test {
protected:
    void TearDown() override {
        peers.clear();
        EXPECT_TRUE(eventually([] { return running().isEmpty(); }));
    }

    void startFake(const QString& name, QStringList options = {}) {
        options.prepend(name);
        peers.push_back(std::make_unique<PeerProcess>(FAKE_MPRIS_PLAYER, options));
    }

    std::vector<std::unique_ptr<PeerProcess>> peers;
};

} // namespace

TEST_F(PlayersTest, WithNoPlayerNothingRunsAndTheProbeFails) {
    EXPECT_TRUE(running().isEmpty());
    EXPECT_EQ(handoff::NowPlayingProvider::preflightMediaControlPermission(),
              Status::noPlayerRunning);
    EXPECT_FALSE(handoff::NowPlayingProvider::track("Spotify"));
    EXPECT_FALSE(handoff::NowPlayingProvider::track("Music"));

    const auto command = players().run(handoff::commandScript("Music", "playpause"));
    ASSERT_TRUE(command);
    EXPECT_TRUE(command->succeeded);
    EXPECT_FALSE(command->stringValue);

    const auto probe = players().run(handoff::permissionProbeScript("Spotify"));
    ASSERT_TRUE(probe);
    EXPECT_FALSE(probe->succeeded);
    EXPECT_EQ(probe->errorNumber, -600);
    EXPECT_FALSE(players().run("tell application \"Music\" to quit"));
}

TEST_F(PlayersTest, SpotifyReportsItsTrackAndFollowsCommands) {
    startFake("spotify");
    ASSERT_TRUE(eventually([] { return running() == QStringList{"com.spotify.client"}; }));

    auto track = handoff::NowPlayingProvider::track("Spotify");
    ASSERT_TRUE(track);
    EXPECT_EQ(track->title, "Fake Song #1");
    EXPECT_EQ(track->artist, "Fake Artist, Guest");
    EXPECT_TRUE(track->isPlaying);
    EXPECT_DOUBLE_EQ(track->position, 12.5);
    EXPECT_DOUBLE_EQ(track->duration, 215) << "milliseconds become seconds";
    EXPECT_FALSE(handoff::NowPlayingProvider::track("Music")) << "Spotify is not Music";
    EXPECT_EQ(handoff::NowPlayingProvider::preflightMediaControlPermission(), Status::granted);

    sendCommand(handoff::MediaController::Command::fastForward);
    EXPECT_EQ(handoff::NowPlayingProvider::track("Spotify")->title, "Fake Song #2");
    sendCommand(handoff::MediaController::Command::rewind);
    sendCommand(handoff::MediaController::Command::previousTrack);
    EXPECT_EQ(handoff::NowPlayingProvider::track("Spotify")->title, "Fake Song #0");
    sendCommand(handoff::MediaController::Command::playPause);
    EXPECT_FALSE(handoff::NowPlayingProvider::track("Spotify")->isPlaying);
    EXPECT_EQ(outputOf("playerctl", {"-p", "spotify", "status"}), "Paused");

    // The Handoff asks and seeks from its own threads.
    std::optional<Track> fromWorker;
    std::thread([&fromWorker] {
        handoff::NowPlayingProvider::setPosition(100.25);
        fromWorker = handoff::NowPlayingProvider::track("Spotify");
    }).join();
    ASSERT_TRUE(fromWorker);
    EXPECT_DOUBLE_EQ(fromWorker->position, 100.25);
    handoff::NowPlayingProvider::setPosition(1000);
    handoff::NowPlayingProvider::setPosition(1e300);
    EXPECT_DOUBLE_EQ(handoff::NowPlayingProvider::track("Spotify")->position, 100.25)
        << "the player ignores a position beyond the track";

    EXPECT_EQ(volumeOf("spotify"), 1.0);
    sendCommand(handoff::MediaController::Command::mute);
    EXPECT_EQ(volumeOf("spotify"), 0.0);
}

TEST_F(PlayersTest, ARefusingSpotifyIsDeniedUnlessMusicAnswers) {
    startFake("spotify", {"--deny"});
    ASSERT_TRUE(eventually([] { return running().size() == 1; }));
    EXPECT_EQ(handoff::NowPlayingProvider::preflightMediaControlPermission(), Status::denied);

    const auto refused = players().run(handoff::commandScript("Spotify", "playpause"));
    ASSERT_TRUE(refused);
    EXPECT_FALSE(refused->succeeded);
    EXPECT_EQ(refused->errorNumber, -1743);

    testing::internal::CaptureStdout();
    EXPECT_FALSE(handoff::NowPlayingProvider::track("Spotify"));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.rfind("AppleScript error: ", 0), 0u) << printed;
    EXPECT_NE(printed.find("(-1743)"), std::string::npos) << printed;

    startFake("other");
    ASSERT_TRUE(eventually([] { return running().size() == 2; }));
    EXPECT_EQ(handoff::NowPlayingProvider::preflightMediaControlPermission(), Status::granted);
}

TEST_F(PlayersTest, APlayerWithoutTrackHasNoTrackAndCannotSeek) {
    startFake("spotify", {"--no-track"});
    ASSERT_TRUE(eventually([] { return running().size() == 1; }));
    EXPECT_FALSE(handoff::NowPlayingProvider::track("Spotify"));
    EXPECT_EQ(handoff::NowPlayingProvider::preflightMediaControlPermission(), Status::granted);
    const auto seek = players().run(handoff::seekScript("Spotify", 3));
    ASSERT_TRUE(seek);
    EXPECT_FALSE(seek->succeeded);
}

TEST_F(PlayersTest, MusicIsTheFirstOtherPlayerByName) {
    startFake("zeta", {"--title", "Zeta"});
    startFake("alpha", {"--title", "Alpha", "--length-us", "90000000"});
    startFake("spotify");
    ASSERT_TRUE(eventually([] { return running().size() == 2; }));
    ASSERT_TRUE(eventually([] {
        const auto track = handoff::NowPlayingProvider::track("Music");
        return track && track->title == "Alpha #1";
    }));
    EXPECT_DOUBLE_EQ(handoff::NowPlayingProvider::track("Music")->duration, 90)
        << "Music counts seconds";
}

namespace {

// mpv with its MPRIS plugin playing a tagged tone: the "Music" player.
class MpvMusicTest : public PlayersTest {
protected:
    static void SetUpTestSuite() {
        folder = new QTemporaryDir;
        tone = folder->filePath("tone.ogg");
        const int made =
            QProcess::execute("sox", {"-n", "--comment", "TITLE=Zivra Test Tone", "--add-comment",
                                      "ARTIST=The Sine Waves", "-r", "48000", "-c", "2", tone,
                                      "synth", "30", "sine", "440", "vol", "0.3"});
        ASSERT_EQ(made, 0);
    }

    static void TearDownTestSuite() { delete folder; }

    void SetUp() override {
        peers.push_back(std::make_unique<PeerProcess>(
            "mpv", QStringList{"--no-config", "--script=" MPV_MPRIS_PLUGIN, "--no-video",
                               "--ao=pulse", "--really-quiet", "--keep-open=yes", tone}));
        ASSERT_TRUE(eventually([] { return running() == QStringList{"com.apple.Music"}; }));
    }

    static QTemporaryDir* folder;
    static QString tone;
};

QTemporaryDir* MpvMusicTest::folder = nullptr;
QString MpvMusicTest::tone;

} // namespace

TEST_F(MpvMusicTest, ReportsTheTaggedTrack) {
    // mpv names the track after its file until it has read the tags.
    const auto track = trackOnceItIs("Music", [](const Track& t) { return t.duration > 0; });
    ASSERT_TRUE(track);
    EXPECT_EQ(track->title, "Zivra Test Tone");
    EXPECT_EQ(track->artist, "The Sine Waves");
    EXPECT_TRUE(track->isPlaying);
    EXPECT_NEAR(track->duration, 30, 0.1);
    EXPECT_GE(track->position, 0);
    EXPECT_LE(track->position, 30);
    EXPECT_EQ(outputOf("playerctl", {"-p", "mpv", "metadata", "title"}), track->title);
    EXPECT_FALSE(handoff::NowPlayingProvider::track("Spotify"));
}

TEST_F(MpvMusicTest, PlayPausePausesIt) {
    ASSERT_TRUE(trackOnceItIs("Music", [](const Track& t) { return t.isPlaying; }));
    sendCommand(handoff::MediaController::Command::playPause);
    EXPECT_TRUE(trackOnceItIs("Music", [](const Track& t) { return !t.isPlaying; }));
    EXPECT_EQ(outputOf("playerctl", {"-p", "mpv", "status"}), "Paused");
}

TEST_F(MpvMusicTest, SetPositionMovesIt) {
    ASSERT_TRUE(trackOnceItIs("Music", [](const Track& t) { return t.duration > 0; }));
    outputOf("playerctl", {"-p", "mpv", "pause"});
    handoff::NowPlayingProvider::setPosition(20);
    const auto track =
        trackOnceItIs("Music", [](const Track& t) { return std::abs(t.position - 20) < 0.5; });
    ASSERT_TRUE(track);
    EXPECT_NEAR(outputOf("playerctl", {"-p", "mpv", "position"}).toDouble(), 20, 0.5);
}

TEST_F(MpvMusicTest, MuteSetsItsVolumeToZero) {
    EXPECT_GT(volumeOf("mpv"), 0);
    sendCommand(handoff::MediaController::Command::mute);
    EXPECT_TRUE(eventually([] { return volumeOf("mpv") == 0; }));
}

TEST_F(MpvMusicTest, GrantedWhileItRunsAndNoPlayerOnceItQuits) {
    EXPECT_EQ(handoff::NowPlayingProvider::preflightMediaControlPermission(), Status::granted);
    peers.clear();
    EXPECT_TRUE(eventually([] {
        return handoff::NowPlayingProvider::preflightMediaControlPermission() ==
               Status::noPlayerRunning;
    }));
    EXPECT_FALSE(handoff::NowPlayingProvider::track("Music"));
}

} // namespace zivra::platform::playerscript
