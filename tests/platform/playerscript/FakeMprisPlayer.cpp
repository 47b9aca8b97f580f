// A small MPRIS player for the tests: it plays nothing, keeps its state in memory and answers
// like a media player on the session bus.
//
//   fake_mpris_player NAME [--deny] [--no-track] [--title T] [--length-us N] [--position-us N]
//
// NAME is the last part of its bus name (org.mpris.MediaPlayer2.NAME). --deny refuses every
// call with AccessDenied, --no-track reports no current track. Next and Previous change the
// track number, which the title ends with ("T #2").
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>

#include <cstdio>

namespace {

const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

class FakePlayer final : public QDBusVirtualObject {
public:
    bool deny = false;
    bool hasTrack = true;
    QString title = QStringLiteral("Fake Song");
    qlonglong length = 215'000'000;
    qlonglong position = 12'500'000;
    bool playing = true;
    double volume = 1.0;
    int track = 1;

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        if (deny) {
            return bus.send(message.createErrorReply(QDBusError::AccessDenied,
                                                     QStringLiteral("Not allowed to control")));
        }
        const QVariantList arguments = message.arguments();
        const QString member = message.member();
        if (message.interface() == propertiesInterface) {
            if (member == u"GetAll") {
                return bus.send(message.createReply(QVariant(properties())));
            }
            if (member == u"Get" && arguments.size() == 2 &&
                properties().contains(arguments[1].toString())) {
                return bus.send(message.createReply(
                    QVariant::fromValue(QDBusVariant(properties()[arguments[1].toString()]))));
            }
            if (member == u"Set" && arguments.size() == 3 && arguments[1].toString() == u"Volume") {
                volume = arguments[2].value<QDBusVariant>().variant().toDouble();
                return bus.send(message.createReply());
            }
        } else if (message.interface() == playerInterface) {
            if (member == u"PlayPause") {
                playing = !playing;
                return bus.send(message.createReply());
            }
            if (member == u"Next" || member == u"Previous") {
                track += member == u"Next" ? 1 : -1;
                return bus.send(message.createReply());
            }
            if (member == u"SetPosition" && arguments.size() == 2) {
                const qlonglong target = arguments[1].toLongLong();
                // As players do: a position for another track or outside this one is ignored.
                if (arguments[0].value<QDBusObjectPath>().path() == trackId() && target >= 0 &&
                    target <= length) {
                    position = target;
                }
                return bus.send(message.createReply());
            }
        }
        return bus.send(message.createErrorReply(QDBusError::UnknownMethod, member));
    }

private:
    QString trackId() const { return QStringLiteral("/org/zivra/test/track/%1").arg(track); }

    QVariantMap properties() const {
        QVariantMap metadata;
        if (hasTrack) {
            metadata = {
                {"mpris:trackid", QVariant::fromValue(QDBusObjectPath(trackId()))},
                {"xesam:title", QStringLiteral("%1 #%2").arg(title).arg(track)},
                {"xesam:artist", QStringList{"Fake Artist", "Guest"}},
                {"mpris:length", length},
            };
        }
        return {
            {"PlaybackStatus", playing ? "Playing" : "Paused"},
            {"Metadata", metadata},
            {"Position", position},
            {"Volume", volume},
        };
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    if (arguments.isEmpty()) {
        std::fprintf(stderr, "usage: fake_mpris_player NAME [options]\n");
        return 2;
    }
    FakePlayer player;
    const QString name = arguments.takeFirst();
    while (!arguments.isEmpty()) {
        const QString option = arguments.takeFirst();
        if (option == u"--deny") {
            player.deny = true;
        } else if (option == u"--no-track") {
            player.hasTrack = false;
        } else if (option == u"--title" && !arguments.isEmpty()) {
            player.title = arguments.takeFirst();
        } else if (option == u"--length-us" && !arguments.isEmpty()) {
            player.length = arguments.takeFirst().toLongLong();
        } else if (option == u"--position-us" && !arguments.isEmpty()) {
            player.position = arguments.takeFirst().toLongLong();
        } else {
            std::fprintf(stderr, "fake_mpris_player: unknown option %s\n", qPrintable(option));
            return 2;
        }
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerVirtualObject(QStringLiteral("/org/mpris/MediaPlayer2"), &player) ||
        !bus.registerService(QStringLiteral("org.mpris.MediaPlayer2.") + name)) {
        std::fprintf(stderr, "fake_mpris_player: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    return app.exec();
}
