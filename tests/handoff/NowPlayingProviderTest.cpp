#include "handoff/NowPlayingProvider.h"

#include "handoff/PlayerScriptTexts.h"
#include "tests/handoff/FakePlayerScripts.h"

#include <gtest/gtest.h>

namespace zivra::handoff {

using Status = NowPlayingProvider::MediaControlPermissionStatus;

namespace {

class TrackTest : public testing::Test {
protected:
    // The track that `app` reports when its query answers `reply`.
    std::optional<NowPlayingProvider::Track> trackFor(const QString& app, const QString& reply) {
        scripts.answers[trackQueryScript(app)] = FakePlayerScripts::text(reply);
        return NowPlayingProvider::track(app, scripts);
    }

    FakePlayerScripts scripts;
};

} // namespace

TEST_F(TrackTest, SpotifyReportsItsDurationInMilliseconds) {
    const auto track = trackFor("Spotify", "Song|Artist|Playing|12.5|215000");
    ASSERT_TRUE(track);
    EXPECT_EQ(track->title, "Song");
    EXPECT_EQ(track->artist, "Artist");
    EXPECT_TRUE(track->isPlaying);
    EXPECT_DOUBLE_EQ(track->position, 12.5);
    EXPECT_DOUBLE_EQ(track->duration, 215);
    EXPECT_EQ(scripts.sources, std::vector<QString>{trackQueryScript("Spotify")});
}

TEST_F(TrackTest, MusicKeepsItsDurationInSeconds) {
    const auto track = trackFor("Music", "Song|Artist|Playing|12.5|215000");
    ASSERT_TRUE(track);
    EXPECT_DOUBLE_EQ(track->duration, 215000);
    EXPECT_DOUBLE_EQ(trackFor("Music", "Song|Artist|playing|0|215.25")->duration, 215.25);
}

TEST_F(TrackTest, ShortSpotifyDurationsAreNotDivided) {
    EXPECT_DOUBLE_EQ(trackFor("Spotify", "Song|Artist|playing|1|1000")->duration, 1000);
}

TEST_F(TrackTest, EmptyArtistAndPausedState) {
    const auto track = trackFor("Music", "Song||paused|3|200");
    ASSERT_TRUE(track);
    EXPECT_EQ(track->title, "Song");
    EXPECT_EQ(track->artist, "");
    EXPECT_FALSE(track->isPlaying);
}

TEST_F(TrackTest, ATrackWithoutTitleAndArtistIsNoTrack) {
    EXPECT_FALSE(trackFor("Music", "||playing|3|200"));
    EXPECT_TRUE(trackFor("Music", "|Artist|playing|3|200"));
}

TEST_F(TrackTest, MissingFieldsTakeTheirDefaults) {
    const auto track = trackFor("Spotify", "Song|Artist");
    ASSERT_TRUE(track);
    EXPECT_TRUE(track->isPlaying);
    EXPECT_EQ(track->position, 0);
    EXPECT_EQ(track->duration, 0);
    const auto titleOnly = trackFor("Music", "Song");
    ASSERT_TRUE(titleOnly);
    EXPECT_EQ(titleOnly->artist, "");
}

TEST_F(TrackTest, ABarInTheTitleShiftsTheLaterFields) {
    const auto track = trackFor("Music", "AC|DC|Artist|paused|3.5|200");
    ASSERT_TRUE(track);
    EXPECT_EQ(track->title, "AC");
    EXPECT_EQ(track->artist, "DC");
    EXPECT_FALSE(track->isPlaying) << "the state is read from the artist";
    EXPECT_EQ(track->position, 0) << "the position is read from the state";
    EXPECT_DOUBLE_EQ(track->duration, 3.5);
}

TEST_F(TrackTest, UnreadableNumbersBecomeZero) {
    EXPECT_EQ(trackFor("Music", "Song|Artist|playing|12,5|200")->position, 0);
    EXPECT_EQ(trackFor("Music", "Song|Artist|playing| 12.5|200")->position, 0);
    EXPECT_EQ(trackFor("Music", "Song|Artist|playing|12.5 |200")->position, 0);
    EXPECT_EQ(trackFor("Music", "Song|Artist|playing|12.5s|200")->position, 0);
    EXPECT_EQ(trackFor("Music", "Song|Artist|playing||")->duration, 0);
    EXPECT_EQ(trackFor("Music", "Song|Artist|playing|+-7|200")->position, 0);
    EXPECT_EQ(trackFor("Music", "Song|Artist|playing|++7|200")->position, 0);
    EXPECT_DOUBLE_EQ(trackFor("Music", "Song|Artist|playing|+7|1e2")->position, 7);
    EXPECT_DOUBLE_EQ(trackFor("Music", "Song|Artist|playing|+7|1e2")->duration, 100);
}

TEST_F(TrackTest, TheStateIsComparedLowerCased) {
    EXPECT_TRUE(trackFor("Music", "Song|Artist|PLAYING|0|0")->isPlaying);
    EXPECT_FALSE(trackFor("Music", "Song|Artist|stopped|0|0")->isPlaying);
    EXPECT_FALSE(trackFor("Music", "Song|Artist||0|0")->isPlaying);
}

TEST_F(TrackTest, NoAnswerIsNoTrack) {
    EXPECT_FALSE(trackFor("Music", ""));
    scripts.answers[trackQueryScript("Music")] = zivra::platform::playerscript::ScriptOutcome{};
    EXPECT_FALSE(NowPlayingProvider::track("Music", scripts)) << "no string value";
    scripts.answers[trackQueryScript("Music")] = std::nullopt;
    EXPECT_FALSE(NowPlayingProvider::track("Music", scripts)) << "did not compile";
}

TEST_F(TrackTest, AFailedQueryIsPrintedAndGivesNoTrack) {
    scripts.answers[trackQueryScript("Spotify")] = FakePlayerScripts::failure(-1743);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(NowPlayingProvider::track("Spotify", scripts));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "AppleScript error: failed (-1743)\n");
}

TEST(SetPosition, SeeksSpotifyThenMusicAndPrintsFailures) {
    FakePlayerScripts scripts;
    scripts.answers[seekScript("Spotify", 42.25)] = FakePlayerScripts::failure(-10000);
    testing::internal::CaptureStdout();
    NowPlayingProvider::setPosition(42.25, scripts);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "AppleScript error: failed (-10000)\n");
    EXPECT_EQ(scripts.sources,
              (std::vector<QString>{seekScript("Spotify", 42.25), seekScript("Music", 42.25)}));
}

namespace {

class PermissionTest : public testing::Test {
protected:
    Status preflight() { return NowPlayingProvider::preflightMediaControlPermission(scripts); }

    void answerProbe(const QString& app,
                     std::optional<zivra::platform::playerscript::ScriptOutcome> outcome) {
        scripts.answers[permissionProbeScript(app)] = std::move(outcome);
    }

    FakePlayerScripts scripts;
};

} // namespace

TEST_F(PermissionTest, NoPlayerRunningRunsNoScript) {
    scripts.running = {"org.example.other"};
    EXPECT_EQ(preflight(), Status::noPlayerRunning);
    EXPECT_TRUE(scripts.sources.empty());
}

TEST_F(PermissionTest, APlayerCountsAsRunningByItsIdentifierAlone) {
    scripts.running = {"org.example.other", "com.spotify"};
    EXPECT_FALSE(NowPlayingProvider::isPlayerRunning(scripts));
    scripts.running = {"org.example.other", "com.apple.Music"};
    EXPECT_TRUE(NowPlayingProvider::isPlayerRunning(scripts));
    scripts.running = {"com.spotify.client"};
    EXPECT_TRUE(NowPlayingProvider::isPlayerRunning(scripts));
    EXPECT_TRUE(scripts.sources.empty()) << "no player is asked anything";
}

TEST_F(PermissionTest, OnlyMusicRunningAndRefused) {
    scripts.running = {"com.apple.Music"};
    answerProbe("Music", FakePlayerScripts::failure(-1743));
    testing::internal::CaptureStdout();
    EXPECT_EQ(preflight(), Status::denied);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "the probe prints nothing";
    EXPECT_EQ(scripts.sources, std::vector<QString>{permissionProbeScript("Music")});
}

TEST_F(PermissionTest, SpotifyRefusedAndMusicAnswering) {
    scripts.running = {"com.apple.Music", "com.spotify.client"};
    answerProbe("Spotify", FakePlayerScripts::failure(-1743));
    answerProbe("Music", FakePlayerScripts::text("playing"));
    EXPECT_EQ(preflight(), Status::granted);
    EXPECT_EQ(scripts.sources, (std::vector<QString>{permissionProbeScript("Spotify"),
                                                     permissionProbeScript("Music")}));
}

TEST_F(PermissionTest, TheFirstAnswerGrantsAtOnce) {
    scripts.running = {"com.spotify.client", "com.apple.Music"};
    answerProbe("Spotify", FakePlayerScripts::text("paused"));
    EXPECT_EQ(preflight(), Status::granted);
    EXPECT_EQ(scripts.sources.size(), 1u);
}

TEST_F(PermissionTest, NoAnswerAndOtherErrorsLeaveItUndetermined) {
    scripts.running = {"com.spotify.client", "com.apple.Music"};
    answerProbe("Spotify", FakePlayerScripts::text(""));
    answerProbe("Music", FakePlayerScripts::failure(-600));
    EXPECT_EQ(preflight(), Status::undetermined);
    answerProbe("Music", std::nullopt);
    EXPECT_EQ(preflight(), Status::undetermined);
    answerProbe("Music", zivra::platform::playerscript::ScriptOutcome{});
    EXPECT_EQ(preflight(), Status::undetermined);
}

TEST_F(PermissionTest, ARefusalOutweighsAnUnclearAnswer) {
    scripts.running = {"com.spotify.client", "com.apple.Music"};
    answerProbe("Spotify", FakePlayerScripts::failure(-1743));
    answerProbe("Music", FakePlayerScripts::text(""));
    EXPECT_EQ(preflight(), Status::denied);
}

} // namespace zivra::handoff
