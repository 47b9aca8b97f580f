#include "app/MenuBarVisibilityRepair.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace zivra::app {

TEST(MenuBarVisibilityRepair, WritesBothKeysIntoBothDomains) {
    const QList<QStringList> expected = {
        {"write", "com.apple.controlcenter", "NSStatusItem Visible velmora.zivra", "-bool", "YES"},
        {"write", "com.apple.controlcenter", "NSStatusItem VisibleCC velmora.zivra", "-bool",
         "YES"},
        {"write", "com.apple.systemuiserver", "NSStatusItem Visible velmora.zivra", "-bool", "YES"},
        {"write", "com.apple.systemuiserver", "NSStatusItem VisibleCC velmora.zivra", "-bool",
         "YES"}};
    EXPECT_EQ(MenuBarVisibilityRepair::arguments(true, "velmora.zivra"), expected);
    for (const QStringList& args : MenuBarVisibilityRepair::arguments(false, "velmora.zivra")) {
        EXPECT_EQ(args.last(), "NO");
    }
}

TEST(MenuBarVisibilityRepair, RunsTheToolFourTimesInOrderWithQuietOutput) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString log = dir.filePath("calls");
    const QString tool = dir.filePath("defaults");
    QFile script(tool);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    // Each run appends its arguments as one line, and talks on both outputs and fails, which
    // must change nothing.
    script.write(("#!/bin/sh\nprintf '%s|' \"$@\" >> '" + log + "'\necho >> '" + log +
                  "'\necho noise\necho noise >&2\nexit 3\n")
                     .toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    MenuBarVisibilityRepair::setVisible(true, "velmora.zivra", tool);

    QFile calls(log);
    ASSERT_TRUE(calls.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(calls.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0],
              "write|com.apple.controlcenter|NSStatusItem Visible velmora.zivra|-bool|YES|");
    EXPECT_EQ(lines[3],
              "write|com.apple.systemuiserver|NSStatusItem VisibleCC velmora.zivra|-bool|YES|");
}

TEST(MenuBarVisibilityRepair, AMissingToolIsQuietlySkipped) {
    QTemporaryDir dir;
    MenuBarVisibilityRepair::setVisible(true, "velmora.zivra", dir.filePath("absent"));
    MenuBarVisibilityRepair::setVisible(true, "velmora.zivra");
    SUCCEED() << "returned after the failed launches";
}

} // namespace zivra::app
