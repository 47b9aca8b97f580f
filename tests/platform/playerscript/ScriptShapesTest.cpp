#include "platform/playerscript/ScriptShapes.h"

#include "handoff/PlayerScriptTexts.h"
#include "tests/handoff/QStringPrinting.h"

#include <gtest/gtest.h>

using namespace zivra;
using platform::PlayerScript;
using platform::recognise;

TEST(ScriptShapes, RecognisesEveryCommandZivraSends) {
    for (const QString& player : {QStringLiteral("Spotify"), QStringLiteral("Music")}) {
        for (const char* verb :
             {"playpause", "next track", "previous track", "set sound volume to 0"}) {
            const auto script = recognise(playerscripts::command(player, verb));
            ASSERT_TRUE(script) << verb;
            EXPECT_EQ(script->kind, PlayerScript::Kind::command);
            EXPECT_EQ(script->player, player);
            EXPECT_EQ(script->verb, QString::fromLatin1(verb));
        }
    }
}

TEST(ScriptShapes, RecognisesSeekTrackQueryAndProbe) {
    const auto seek = recognise(playerscripts::seek("Music", 83.25));
    ASSERT_TRUE(seek);
    EXPECT_EQ(seek->kind, PlayerScript::Kind::seek);
    EXPECT_EQ(seek->player, "Music");
    EXPECT_DOUBLE_EQ(seek->seconds, 83.25);
    EXPECT_DOUBLE_EQ(recognise(playerscripts::seek("Spotify", -2))->seconds, -2);

    const auto query = recognise(playerscripts::trackQuery("Spotify"));
    ASSERT_TRUE(query);
    EXPECT_EQ(query->kind, PlayerScript::Kind::trackQuery);
    EXPECT_EQ(query->player, "Spotify");

    const auto probe = recognise(playerscripts::permissionProbe("Music"));
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
    EXPECT_FALSE(recognise(playerscripts::command("Music", "quit")));
    EXPECT_FALSE(
        recognise(playerscripts::command("Music", "playpause") + "\ndo shell script \"x\""));
    EXPECT_FALSE(recognise("if application \"Music\" is running then\n    tell application "
                           "\"Spotify\" to playpause\nend if"))
        << "the guard and the command name different players";
    EXPECT_FALSE(recognise("if application \"Music\" is running then\n    tell application "
                           "\"Music\" to set player position to 1,5\nend if"));
    EXPECT_FALSE(recognise(playerscripts::seek("Music", std::nan(""))));
}
