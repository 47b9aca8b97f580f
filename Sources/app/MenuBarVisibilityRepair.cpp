#include "app/MenuBarVisibilityRepair.h"

#include <QProcess>

namespace zivra::app {

QList<QStringList> MenuBarVisibilityRepair::arguments(bool visible, const QString& identifier) {
    const QString value = visible ? QStringLiteral("YES") : QStringLiteral("NO");
    QList<QStringList> lists;
    // Kept on purpose as they stand: the domains and key prefixes (each ending in one space)
    // are the ones the status bar's own defaults use.
    for (const char* domain : {"com.apple.controlcenter", "com.apple.systemuiserver"}) {
        for (const char* prefix : {"NSStatusItem Visible ", "NSStatusItem VisibleCC "}) {
            lists.append({QStringLiteral("write"), QString::fromLatin1(domain),
                          QString::fromLatin1(prefix) + identifier, QStringLiteral("-bool"),
                          value});
        }
    }
    return lists;
}

void MenuBarVisibilityRepair::setVisible(bool visible, const QString& identifier,
                                         const QString& program) {
    for (const QStringList& args : arguments(visible, identifier)) {
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(program, args);
        if (process.waitForStarted()) {
            process.waitForFinished(-1);
        }
    }
}

} // namespace zivra::app
