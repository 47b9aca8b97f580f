#include "platform/playerscript/ScriptShapes.h"

#include "handoff/PlayerScriptTexts.h"
#include "tests/handoff/QStringPrinting.h"

#include <gtest/gtest.h>

namespace zivra::platform::playerscript {

TEST(ScriptShapes, RecognisesEveryCommandZivraSends) {
    for (const QString& player : {QStringLiteral("Spotify"), QStringLiteral("Music")}) {
        for (const char* verb :
             {"playpause", "next track", "previous track", "set sound volume to 0"}) {
            const auto script = recognise(handoff::commandScript(player, verb));
            ASSERT_TRUE(script) << verb;
            EXPECT_EQ(script->kind, PlayerScript::Kind::command);
            EXPECT_EQ(script->player, player);
            EXPECT_EQ(script->verb, QString::fromLatin1(verb));
        }
    }
}

TEST(ScriptShapes, RecognisesSeekTrackQueryAndProbe) {
    const auto seek = recognise(handoff::seekScript("Music", 83.25));
    ASSERT_TRUE(seek);
    EXPECT_EQ(seek->kind, PlayerScript::Kind::seek);
    EXPECT_EQ(seek->player, "Music");
    EXPECT_DOUBLE_EQ(seek->seconds, 83.25);
    EXPECT_DOUBLE_EQ(recognise(handoff::seekScript("Spotify", -2))->seconds, -2);

    const auto query = recognise(handoff::trackQueryScript("Spotify"));
    ASSERT_TRUE(query);
    EXPECT_EQ(query->kind, PlayerScript::Kind::trackQuery);
    EXPECT_EQ(query->player, "Spotify");

    const auto probe = recognise(handoff::permissionProbeScript("Music"));
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->kind, PlayerScript::Kind::permissionProbe);
    EXPECT_EQ(probe->player, "Music");
}

TEST(ScriptShapes, WhitespaceBetweenWordsMayVary) {
    const auto script = recognise(
        "  if application \"Music\"   is running then tell application \"Music\" to\tnext "
        "track\r\nend if\n");
    ASSERT_TRUE(script);
    EXPECT_EQ(script->verb, "next track");
}

TEST(ScriptShapes, OtherTextsDoNotCompile) {
    EXPECT_FALSE(recognise(""));
    EXPECT_FALSE(recognise("tell application \"Music\" to quit"));
    EXPECT_FALSE(recognise(handoff::commandScript("Music", "quit")));
    EXPECT_FALSE(
        recognise(handoff::commandScript("Music", "playpause") + "\ndo shell script \"x\""));
    EXPECT_FALSE(recognise("if application \"Music\" is running then\n    tell application "
                           "\"Spotify\" to playpause\nend if"))
        << "the guard and the command name different players";
    EXPECT_FALSE(recognise("if application \"Music\" is running then\n    tell application "
                           "\"Music\" to set player position to 1,5\nend if"));
    EXPECT_FALSE(recognise(handoff::seekScript("Music", std::nan(""))));
}

} // namespace zivra::platform::playerscript
