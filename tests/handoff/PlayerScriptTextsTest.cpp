#include "handoff/PlayerScriptTexts.h"
#include "tests/handoff/QStringPrinting.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace zivra::handoff {

TEST(PlayerScriptTexts, CommandsAreGuardedByTheRunningTest) {
    EXPECT_EQ(commandScript("Spotify", "playpause"),
              R"script(if application "Spotify" is running then
    tell application "Spotify" to playpause
end if)script");
    EXPECT_EQ(commandScript("Music", "set sound volume to 0"),
              R"script(if application "Music" is running then
    tell application "Music" to set sound volume to 0
end if)script");
}

TEST(PlayerScriptTexts, TrackQuery) {
    EXPECT_EQ(trackQueryScript("Music"), R"script(if application "Music" is running then
    tell application "Music"
        try
            return (name of current track) & "|" & (artist of current track) & "|" & (player state as string) & "|" & (player position as string) & "|" & (duration of current track as string)
        on error
            return ""
        end try
    end tell
end if)script");
}

TEST(PlayerScriptTexts, SeekWritesSixDecimalsWithAPointWhateverTheLocale) {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(seekScript("Spotify", 12.5),
              R"script(if application "Spotify" is running then
    tell application "Spotify" to set player position to 12.500000
end if)script");
    EXPECT_EQ(seekScript("Music", 0),
              R"script(if application "Music" is running then
    tell application "Music" to set player position to 0.000000
end if)script");
    EXPECT_TRUE(seekScript("Music", 1234.5678904).contains(" to 1234.567890\n"));
    EXPECT_TRUE(seekScript("Music", -3).contains(" to -3.000000\n"));
    QLocale::setDefault(previous);
}

TEST(PlayerScriptTexts, PermissionProbeHasNoRunningTest) {
    EXPECT_EQ(permissionProbeScript("Spotify"), R"script(tell application "Spotify"
    try
        return (player state as string)
    on error
        return ""
    end try
end tell)script");
}

} // namespace zivra::handoff
