#include "handoff/MediaController.h"
#include "platform/mediakeys/MediaKeys.h"
#include "tests/handoff/FakePlayerScripts.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace zivra::platform::mediakeys {

// The test session has no X display: nothing may be posted, and commands are dropped.
TEST(MediaKeysWithoutDisplay, TheProcessIsNotTrustedAndCommandsAreDropped) {
    ASSERT_TRUE(qEnvironmentVariableIsEmpty("DISPLAY"));
    MediaKeys& keys = systemMediaKeys();
    EXPECT_FALSE(keys.isProcessTrusted());
    EXPECT_FALSE(keys.isProcessTrustedWithPrompt());

    handoff::FakePlayerScripts scripts;
    handoff::MediaController controller(keys, scripts);
    controller.send(handoff::MediaController::Command::playPause);
    controller.send(handoff::MediaController::Command::mute);
    QCoreApplication::processEvents();
    EXPECT_TRUE(controller.hasPromptedForAccessibility);
    EXPECT_TRUE(scripts.sources.empty());
}

} // namespace zivra::platform::mediakeys
