// Zivra's Handoff side as a program that a test drives: the Handoff server
// over the real engine (on the session's sound server) and the real player
// scripts, with media keys that are printed instead of posted (a test
// session has no desktop to post them to).
//
//   handoff_test_host [--address A | --no-address] [--cloudflared PATH]...
//
// --address sets the address in the page URL (default 127.0.0.1: the server
// listens on every IPv4 interface, loopback included); --no-address makes the
// computer look as if it had none; each --cloudflared adds a path to the
// tunnel tool's search list (none by default).
//
// Standard input takes one command per line: "start", "stop",
// "broadcastState", "quit". Standard output gets one line per event:
//   url <text>|none          status <text>        running true|false
//   handoffActive true|false  pitchEnabled ...     pitchCents ...
//   removeVocalsEnabled ...   vocalRemovalMode ... mediaKey <key type>
#include "audio/ZivraAudio.h"
#include "handoff/HandoffHooks.h"
#include "handoff/HandoffServer.h"
#include "handoff/HandoffStreamer.h"
#include "handoff/MediaController.h"
#include "platform/mediakeys/MediaKeys.h"
#include "platform/playerscript/PlayerScripts.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace zivra::handoff {

namespace {

void say(const QString& line) {
    std::cout << line.toStdString() << std::endl;
}

QString text(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

class PrintedMediaKeys final : public zivra::platform::mediakeys::MediaKeys {
public:
    bool isProcessTrusted() override { return true; }
    bool isProcessTrustedWithPrompt() override { return true; }
    void post(const zivra::platform::mediakeys::SystemDefinedEvent& event) override {
        if (((event.data1 >> 8) & 0xFF) ==
            zivra::platform::mediakeys::SystemDefinedEvent::pressedState) {
            say(QStringLiteral("mediaKey %1").arg(event.data1 >> 16));
        }
    }
};

void report(zivra::audio::ZivraAudio& audio) {
    QObject::connect(&audio, &zivra::audio::ZivraAudio::handoffActiveChanged,
                     [](bool value) { say("handoffActive " + text(value)); });
    QObject::connect(&audio, &zivra::audio::ZivraAudio::pitchEnabledChanged,
                     [](bool value) { say("pitchEnabled " + text(value)); });
    QObject::connect(&audio, &zivra::audio::ZivraAudio::pitchCentsChanged,
                     [](float value) { say(QStringLiteral("pitchCents %1").arg(value)); });
    QObject::connect(&audio, &zivra::audio::ZivraAudio::removeVocalsEnabledChanged,
                     [](bool value) { say("removeVocalsEnabled " + text(value)); });
    QObject::connect(&audio, &zivra::audio::ZivraAudio::vocalRemovalModeChanged,
                     [](zivra::audio::VocalRemovalMode value) {
                         say("vocalRemovalMode " + zivra::audio::rawValue(value));
                     });
}

void report(zivra::handoff::HandoffServer& server) {
    using zivra::handoff::HandoffServer;
    QObject::connect(&server, &HandoffServer::urlStringChanged,
                     [](const std::optional<QString>& url) {
                         say("url " + url.value_or(QStringLiteral("none")));
                     });
    QObject::connect(&server, &HandoffServer::statusChanged,
                     [](const QString& status) { say("status " + status); });
    QObject::connect(&server, &HandoffServer::isRunningChanged,
                     [](bool value) { say("running " + text(value)); });
}

} // namespace

} // namespace zivra::handoff

int main(int argc, char** argv) {
    using namespace zivra::handoff;
    QCoreApplication application(argc, argv);
    std::optional<QString> address = QStringLiteral("127.0.0.1");
    QStringList cloudflared;
    const QStringList arguments = application.arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == u"--no-address") {
            address.reset();
        } else if (arguments[i] == u"--address" && i + 1 < arguments.size()) {
            address = arguments[++i];
        } else if (arguments[i] == u"--cloudflared" && i + 1 < arguments.size()) {
            cloudflared << arguments[++i];
        } else {
            std::cerr << "unknown argument " << arguments[i].toStdString() << std::endl;
            return 2;
        }
    }

    PrintedMediaKeys keys;
    zivra::handoff::MediaController media(keys,
                                          zivra::platform::playerscript::systemPlayerScripts());
    zivra::audio::ZivraAudio& audio = zivra::audio::ZivraAudio::shared();
    zivra::handoff::HandoffStreamer& streamer = zivra::handoff::HandoffStreamer::shared();
    zivra::handoff::HandoffServerEnvironment environment{
        &audio, &streamer, &media, [address] { return address; }, cloudflared};
    zivra::handoff::HandoffServer server(environment);
    zivra::handoff::installHandoffHandlers(audio, server, streamer);
    report(audio);
    report(server);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char bytes[4096];
        const ssize_t count = ::read(STDIN_FILENO, bytes, sizeof bytes);
        if (count <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        pending.append(bytes, count);
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QByteArray line = pending.left(end).trimmed();
            pending.remove(0, end + 1);
            if (line == "start") {
                server.start();
            } else if (line == "stop") {
                server.stop();
            } else if (line == "broadcastState") {
                server.broadcastState();
            } else if (line == "quit") {
                QCoreApplication::quit();
            }
        }
    });
    say(QStringLiteral("ready"));
    const int code = QCoreApplication::exec();
    server.stop();
    audio.cleanup();
    return code;
}
