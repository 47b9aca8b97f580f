#include "handoff/MediaController.h"

#include "handoff/PlayerScriptTexts.h"
#include "tests/handoff/FakeMediaKeys.h"
#include "tests/handoff/FakePlayerScripts.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace zivra::handoff {

using Command = MediaController::Command;

namespace {

// Runs the commands queued on the main thread.
void runQueuedCommands() {
    QCoreApplication::processEvents();
}

struct Route {
    Command command;
    long key;
    QString verb;
};

const Route routes[] = {
    {Command::playPause, 16, "playpause"},          {Command::nextTrack, 17, "next track"},
    {Command::previousTrack, 18, "previous track"}, {Command::rewind, 20, "previous track"},
    {Command::fastForward, 19, "next track"},       {Command::mute, 7, "set sound volume to 0"},
};

class MediaControllerTest : public testing::Test {
protected:
    FakeMediaKeys keys;
    FakePlayerScripts scripts;
    MediaController controller{keys, scripts};
};

} // namespace

TEST_F(MediaControllerTest, EveryCommandPostsKeyDownAndKeyUpThenScriptsBothPlayers) {
    for (const Route& route : routes) {
        SCOPED_TRACE(route.verb.toStdString() + " key " + std::to_string(route.key));
        keys.events.clear();
        scripts.sources.clear();
        controller.send(route.command);
        runQueuedCommands();

        ASSERT_EQ(keys.events.size(), 2u);
        const auto& down = keys.events[0];
        const auto& up = keys.events[1];
        for (const auto& event : {down, up}) {
            EXPECT_EQ(event.type, 14);
            EXPECT_EQ(event.x, 0);
            EXPECT_EQ(event.y, 0);
            EXPECT_EQ(event.timestamp, 0);
            EXPECT_EQ(event.windowNumber, 0);
            EXPECT_EQ(event.subtype, 8);
            EXPECT_EQ(event.data2, -1);
            EXPECT_EQ((event.data1 >> 16) & 0xFFFF, route.key);
            EXPECT_EQ(event.data1 & 1, 0) << "no repeat";
        }
        EXPECT_EQ(down.modifierFlags, 0xA00u);
        EXPECT_EQ(up.modifierFlags, 0xB00u);
        EXPECT_EQ(down.data1, (route.key << 16) | 0xA00);
        EXPECT_EQ(up.data1, (route.key << 16) | 0xB00);
        EXPECT_EQ((down.data1 >> 8) & 0xFF, 0xA);
        EXPECT_EQ((up.data1 >> 8) & 0xFF, 0xB);

        ASSERT_EQ(scripts.sources.size(), 2u);
        EXPECT_EQ(scripts.sources[0], commandScript("Spotify", route.verb));
        EXPECT_EQ(scripts.sources[1], commandScript("Music", route.verb));
    }
}

TEST_F(MediaControllerTest, KeysGoOutBeforeScriptsAndAFailingPlayerDoesNotStopTheOther) {
    std::vector<std::string> journal;
    keys.journal = &journal;
    scripts.journal = &journal;
    scripts.otherwise = FakePlayerScripts::failure(-1743);
    scripts.answers[commandScript("Spotify", "next track")] = std::nullopt;
    controller.send(Command::nextTrack);
    runQueuedCommands();
    EXPECT_EQ(journal, (std::vector<std::string>{"key", "key", "script", "script"}));
}

TEST_F(MediaControllerTest, WithoutTrustTwoCommandsPromptOnceAndSendNothing) {
    keys.trusted = false;
    controller.send(Command::playPause);
    controller.send(Command::nextTrack);
    runQueuedCommands();
    EXPECT_EQ(keys.prompts, 1);
    EXPECT_TRUE(controller.hasPromptedForAccessibility);
    EXPECT_TRUE(keys.events.empty());
    EXPECT_TRUE(scripts.sources.empty());
}

TEST_F(MediaControllerTest, ThePromptingCommandIsDroppedEvenWhenTrustArrivesWithThePrompt) {
    keys.trusted = false;
    keys.trustedAfterPrompt = true;
    controller.send(Command::playPause);
    runQueuedCommands();
    EXPECT_EQ(keys.prompts, 1);
    EXPECT_TRUE(keys.events.empty());

    controller.send(Command::mute);
    runQueuedCommands();
    EXPECT_EQ(keys.prompts, 1);
    EXPECT_EQ(keys.events.size(), 2u);
    EXPECT_EQ(scripts.sources.size(), 2u);
}

TEST_F(MediaControllerTest, APromptShownElsewhereIsNotRepeated) {
    keys.trusted = false;
    controller.hasPromptedForAccessibility = true;
    controller.send(Command::playPause);
    runQueuedCommands();
    EXPECT_EQ(keys.prompts, 0);
    EXPECT_TRUE(keys.events.empty());
}

TEST_F(MediaControllerTest, TrustQueriesReachTheMediaKeys) {
    keys.trusted = false;
    keys.trustedAfterPrompt = true;
    EXPECT_FALSE(controller.isProcessTrusted());
    EXPECT_TRUE(controller.isProcessTrustedWithPrompt());
    EXPECT_EQ(keys.prompts, 1);
    EXPECT_TRUE(controller.isProcessTrusted());
}

TEST_F(MediaControllerTest, SendReturnsAtOnceAndCommandsRunOnTheMainThreadInOrder) {
    std::thread connection([this] {
        controller.send(Command::playPause);
        controller.send(Command::mute);
    });
    connection.join();
    EXPECT_TRUE(keys.events.empty()) << "nothing runs before the main thread gets to it";

    runQueuedCommands();
    ASSERT_EQ(keys.events.size(), 4u);
    EXPECT_EQ(keys.events[0].data1 >> 16, 16);
    EXPECT_EQ(keys.events[2].data1 >> 16, 7);
    for (QThread* thread : keys.postingThreads) {
        EXPECT_EQ(thread, QCoreApplication::instance()->thread());
    }
}

TEST(MediaControllerLifetime, ACommandForAControllerThatIsGoneIsDropped) {
    FakeMediaKeys keys;
    FakePlayerScripts scripts;
    auto controller = std::make_unique<MediaController>(keys, scripts);
    controller->send(Command::playPause);
    controller.reset();
    runQueuedCommands();
    EXPECT_TRUE(keys.events.empty());
    EXPECT_TRUE(scripts.sources.empty());
}

} // namespace zivra::handoff
