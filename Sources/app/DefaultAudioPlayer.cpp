#include "app/DefaultAudioPlayer.h"

#include "app/DesktopEntry.h"
#include "app/Logging.h"

#include <QProcess>
#include <QStandardPaths>

#include <array>

namespace zivra::app {
namespace {

constexpr int xdgMimeMilliseconds = 2000;

// The desktop entry xdg-mime names for a type; empty when none is set or xdg-mime is missing.
QString defaultApplication(const QString& type) {
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), type});
    if (!query.waitForFinished(xdgMimeMilliseconds)) {
        query.kill();
        query.waitForFinished();
        return {};
    }
    return QString::fromUtf8(query.readAllStandardOutput()).trimmed();
}

} // namespace

bool startDefaultAudioPlayer() {
    // Players that play audio files register for these; each query costs xdg-mime a moment.
    static const std::array<QString, 3> types = {QStringLiteral("audio/mpeg"),
                                                 QStringLiteral("audio/flac"),
                                                 QStringLiteral("audio/x-vorbis+ogg")};
    for (const QString& type : types) {
        const QString id = defaultApplication(type);
        if (id.isEmpty()) {
            continue;
        }
        const QString entry = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, id);
        QStringList command = entry.isEmpty() ? QStringList() : desktopEntryCommand(entry);
        if (command.isEmpty()) {
            continue;
        }
        const QString program = command.takeFirst();
        if (QProcess::startDetached(program, command)) {
            qCInfo(appLog) << "Started the default audio player" << id;
            return true;
        }
        qCWarning(appLog) << "Could not start the default audio player" << id;
    }
    return false;
}

} // namespace zivra::app
