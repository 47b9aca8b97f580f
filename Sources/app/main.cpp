#include "app/Logging.h"
#include "app/PermissionServices.h"
#include "app/TerminationSignals.h"
#include "app/ZivraAppDelegate.h"
#include "audio/ZivraAudio.h"
#include "handoff/HandoffHooks.h"
#include "handoff/HandoffServer.h"
#include "handoff/HandoffStreamer.h"
#include "platform/instance/SingleInstance.h"
#include "platform/sound/SoundError.h"
#include "platform/sound/SoundServer.h"

#include <QApplication>
#include <QIcon>

namespace {

// A later start of Zivra shows the one that runs and ends: exit status 0 when that one answered.
int handOver(zivra::platform::instance::SingleInstance& instance) {
    const QString error = instance.activateRunning();
    if (!error.isEmpty()) {
        qCWarning(zivra::app::appLog) << "Zivra is already running but did not answer:" << error;
        return 1;
    }
    qCInfo(zivra::app::appLog) << "Zivra is already running: showing it";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("velmora"));
    QCoreApplication::setApplicationName(QStringLiteral("zivra"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/AppIcon.svg")));
    // Zivra lives in the tray: closing its last window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    // One Zivra per session: a second start would put a second tray icon beside the first, and
    // its sound set-up would fight the first one's.
    using zivra::platform::instance::SingleInstance;
    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Claim::running:
        return handOver(instance);
    case SingleInstance::Claim::noBus:
        qCWarning(zivra::app::appLog)
            << "Cannot ask the session bus whether Zivra already runs:" << instance.error();
        break;
    case SingleInstance::Claim::first:
        break;
    }

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
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &instance, &SingleInstance::release);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     &zivra::app::ZivraAppDelegate::applicationWillTerminate);
    // Queued both: a request from a later start that came in before the event loop ran is
    // answered after launching has finished, never before the tray icon exists.
    QMetaObject::invokeMethod(&delegate,
                              &zivra::app::ZivraAppDelegate::applicationDidFinishLaunching,
                              Qt::QueuedConnection);
    QObject::connect(&instance, &SingleInstance::activationRequested, &delegate,
                     &zivra::app::ZivraAppDelegate::reopen, Qt::QueuedConnection);
    return app.exec();
}
