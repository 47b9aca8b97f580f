#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace zivra::app {

// Writes the visibility keys of Zivra's status item with the desktop's preferences tool, so
// that a desktop which hides status items by those keys shows it. Where the tool is missing
// every launch fails quietly. Main thread (it blocks while the tool runs); throws nothing but
// std::bad_alloc.
class MenuBarVisibilityRepair {
public:
    MenuBarVisibilityRepair() = delete;

    static inline const QString tool = QStringLiteral("/usr/bin/defaults");

    // Runs the tool once per argument list of arguments(), one after the other, waiting for
    // each; failures and the tool's output leave no trace.
    static void setVisible(bool visible, const QString& identifier, const QString& program = tool);
    // The four argument lists, in the order they run.
    static QList<QStringList> arguments(bool visible, const QString& identifier);
};

} // namespace zivra::app
