// "Open App" without Spotify: the desktop's default audio player, as xdg-mime names it, is
// started from its desktop entry; Spotify, when installed, comes first.
#include "app/DefaultAudioPlayer.h"
#include "app/PermissionServices.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <array>

namespace zivra::app {
namespace {

class DefaultAudioPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // A desktop of its own: no entry or default of this machine is seen.
        for (std::size_t i = 0; i < variables.size(); ++i) {
            saved[i] = qgetenv(variables[i]);
        }
        setDirectory("XDG_DATA_HOME", "data");
        setDirectory("XDG_DATA_DIRS", "system-data");
        setDirectory("XDG_CONFIG_HOME", "config");
        setDirectory("XDG_CONFIG_DIRS", "system-config");
        QDir(dir.path()).mkpath("data/applications");
        QDir(dir.path()).mkpath("bin");
        QDir(dir.path()).mkpath("config");
    }

    void TearDown() override {
        for (std::size_t i = 0; i < variables.size(); ++i) {
            qputenv(variables[i], saved[i]);
        }
    }

    void setDirectory(const char* variable, const QString& name) {
        qputenv(variable, dir.filePath(name).toUtf8());
    }

    // A program that notes its arguments in "<name>.started" when it runs.
    QString program(const QString& name) {
        const QString path = dir.filePath("bin/" + name);
        QFile script(path);
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho \"$@\" > '" + startedFile(name).toUtf8() + "'\n");
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                              QFileDevice::ExeOwner);
        return path;
    }

    QString startedFile(const QString& name) const { return dir.filePath(name + ".started"); }

    // Waits for the program's note; its arguments, or empty when it never ran.
    std::optional<QString> arguments(const QString& name) const {
        QFile note(startedFile(name));
        if (!QTest::qWaitFor([&] { return note.exists() && note.size() > 0; }, 5000)) {
            return std::nullopt;
        }
        note.open(QIODevice::ReadOnly);
        return QString::fromUtf8(note.readAll()).trimmed();
    }

    void installEntry(const QString& id, const QString& exec) {
        QFile entry(dir.filePath("data/applications/" + id));
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Test Player\nExec=" + exec.toUtf8() +
                    "\n");
    }

    void setDefault(const QString& type, const QString& id) {
        QFile list(dir.filePath("config/mimeapps.list"));
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        list.write("[Default Applications]\n" + type.toUtf8() + "=" + id.toUtf8() + "\n");
    }

    static constexpr std::array<const char*, 5> variables = {
        "XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "PATH"};
    std::array<QByteArray, 5> saved;
    QTemporaryDir dir;
};

TEST_F(DefaultAudioPlayerTest, TheDefaultForAudioIsStartedWithoutFiles) {
    installEntry("test-player.desktop", program("player") + " --gui %U");
    setDefault("audio/flac", "test-player.desktop");
    EXPECT_TRUE(startDefaultAudioPlayer());
    EXPECT_EQ(arguments("player"), "--gui");
}

TEST_F(DefaultAudioPlayerTest, NothingIsStartedWithoutADefaultOrItsEntry) {
    EXPECT_FALSE(startDefaultAudioPlayer()) << "no default set";
    setDefault("audio/mpeg", "gone.desktop");
    EXPECT_FALSE(startDefaultAudioPlayer()) << "the default's entry is not installed";
    installEntry("broken.desktop", dir.filePath("bin/not-there"));
    setDefault("audio/mpeg", "broken.desktop");
    EXPECT_FALSE(startDefaultAudioPlayer()) << "the entry's program does not exist";
}

TEST_F(DefaultAudioPlayerTest, OpenAppStartsSpotifyWhenInstalledElseTheDefaultPlayer) {
    installEntry("test-player.desktop", program("player"));
    setDefault("audio/mpeg", "test-player.desktop");
    const PermissionServices services = PermissionServices::system();
    services.openMediaPlayerApp();
    EXPECT_TRUE(arguments("player").has_value());

    QFile::remove(startedFile("player"));
    program("spotify");
    qputenv("PATH", dir.filePath("bin").toUtf8() + ":" + saved.back());
    services.openMediaPlayerApp();
    EXPECT_TRUE(arguments("spotify").has_value());
    EXPECT_FALSE(QFile::exists(startedFile("player")));
}

} // namespace
} // namespace zivra::app
