#include "app/PermissionServices.h"
#include "app/TerminationSignals.h"
#include "app/ZivraAppDelegate.h"
#include "audio/ZivraAudio.h"
#include "handoff/HandoffHooks.h"
#include "handoff/HandoffServer.h"
#include "handoff/HandoffStreamer.h"

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
