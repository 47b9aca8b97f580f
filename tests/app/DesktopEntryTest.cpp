// Reading the command of a desktop entry, as the default audio player is started from it.
#include "app/DesktopEntry.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace zivra::app {
namespace {

class DesktopEntryTest : public ::testing::Test {
protected:
    QString entry(const QByteArray& text) {
        const QString path = dir.filePath("player.desktop");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        return path;
    }

    QTemporaryDir dir;
};

TEST_F(DesktopEntryTest, FileAndUrlCodesAreDroppedWhenNoFileIsOpened) {
    const QString path = entry("[Desktop Entry]\n"
                               "Type=Application\n"
                               "Name=mpv Media Player\n"
                               "Exec=mpv --player-operation-mode=pseudo-gui -- %U\n");
    EXPECT_EQ(desktopEntryCommand(path),
              (QStringList{"mpv", "--player-operation-mode=pseudo-gui", "--"}));
    EXPECT_EQ(desktopEntryCommand(entry("[Desktop Entry]\nExec=player %f %F %u\n")),
              QStringList{"player"});
}

TEST_F(DesktopEntryTest, QuotesEscapesAndTheEntrysOwnCodesAreResolved) {
    // In the file "a\\\\b" is the value "a\\b" and then, unquoted, the argument a\b.
    const QString path = entry("[Desktop Entry]\n"
                               "Name=Player\n"
                               "Name[de]=Spieler\n"
                               "Icon=player-icon\n"
                               "Exec=\"/opt/My Player/play\" --name=%c \"a\\\\\\\\b\" 100%% "
                               "%i --from %k \"%U\" two\\sblanks\n");
    EXPECT_EQ(desktopEntryCommand(path),
              (QStringList{"/opt/My Player/play", "--name=Player", "a\\b", "100%", "--icon",
                           "player-icon", "--from", path, "%U", "two", "blanks"}));
    EXPECT_EQ(desktopEntryCommand(entry("[Desktop Entry]\nExec=play %i\n")), QStringList{"play"})
        << "no icon: no --icon";
}

TEST_F(DesktopEntryTest, OnlyTheDesktopEntryGroupCounts) {
    const QString path = entry("# comment\n"
                               "[Desktop Action new-window]\n"
                               "Exec=player --new-window\n"
                               "[Desktop Entry]\n"
                               "Exec = player\n"
                               "Exec=second\n"
                               "[Desktop Action play]\n"
                               "Exec=player --play\n");
    EXPECT_EQ(desktopEntryCommand(path), QStringList{"player"});
    EXPECT_TRUE(desktopEntryCommand(entry("[Desktop Entry]\nName=No command\n")).isEmpty());
    EXPECT_TRUE(desktopEntryCommand(dir.filePath("missing.desktop")).isEmpty());
}

} // namespace
} // namespace zivra::app
