#include "app/PermissionServices.h"
#include "app/TerminationSignals.h"
#include "app/ZivraAppDelegate.h"
#include "audio/ZivraAudio.h"

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

    const zivra::TerminationSignals termination;
    zivra::ZivraAppDelegate delegate(ZivraAudio::shared(), zivra::PermissionServices::system());
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     &zivra::ZivraAppDelegate::applicationWillTerminate);
    QTimer::singleShot(0, &delegate, &zivra::ZivraAppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
