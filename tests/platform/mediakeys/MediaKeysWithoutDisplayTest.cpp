#include "tests/handoff/FakePlayerScripts.h"
#include "handoff/MediaController.h"
#include "platform/mediakeys/MediaKeys.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace zivra;

// The test session has no X display: nothing may be posted, and commands are dropped.
TEST(MediaKeysWithoutDisplay, TheProcessIsNotTrustedAndCommandsAreDropped) {
    ASSERT_TRUE(qEnvironmentVariableIsEmpty("DISPLAY"));
    platform::MediaKeys& keys = platform::systemMediaKeys();
    EXPECT_FALSE(keys.isProcessTrusted());
    EXPECT_FALSE(keys.isProcessTrustedWithPrompt());

    FakePlayerScripts scripts;
    MediaController controller(keys, scripts);
    controller.send(MediaController::Command::playPause);
    controller.send(MediaController::Command::mute);
    QCoreApplication::processEvents();
    EXPECT_TRUE(controller.hasPromptedForAccessibility);
    EXPECT_TRUE(scripts.sources.empty());
}
