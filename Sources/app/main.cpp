#include "app/Logging.h"
#include "app/PermissionServices.h"
#include "app/TerminationSignals.h"
#include "app/ZivraAppDelegate.h"
#include "audio/ZivraAudio.h"
#include "handoff/HandoffHooks.h"
#include "handoff/HandoffServer.h"
#include "handoff/HandoffStreamer.h"
#include "platform/sound/SoundError.h"
#include "platform/sound/SoundServer.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("velmora"));
    QCoreApplication::setApplicationName(QStringLiteral("zivra"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/AppIcon.svg")));
    // Zivra lives in the tray: closing its last window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    // A tap an earlier run left behind holds every other program's sound;
    // it goes first, before anything else touches sound.
    try {
        zivra::platform::sound::removeLeftoverTap();
    } catch (const zivra::platform::sound::SoundError& error) {
        qCWarning(zivra::app::appLog)
            << "Could not look for a tap left by an earlier run:" << error.what();
    }

    const zivra::app::TerminationSignals termination;
    zivra::handoff::installHandoffHandlers(zivra::audio::ZivraAudio::shared(),
                                           zivra::handoff::HandoffServer::shared(),
                                           zivra::handoff::HandoffStreamer::shared());
    zivra::app::ZivraAppDelegate delegate(zivra::audio::ZivraAudio::shared(),
                                          zivra::app::PermissionServices::system());
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     &zivra::app::ZivraAppDelegate::applicationWillTerminate);
    QTimer::singleShot(0, &delegate, &zivra::app::ZivraAppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
