#include "platform/playerscript/MprisPlayer.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include <algorithm>

namespace zivra::platform::playerscript {

namespace {

const QString playerPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString spotifyBusName = QStringLiteral("org.mpris.MediaPlayer2.spotify");
const QString objectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// A player that does not answer within this time is treated as failing, so that a hung player
// cannot hold its caller for long.
constexpr int replyTimeoutMs = 5000;

struct BusPlayers {
    std::optional<QString> spotify;
    std::optional<QString> music;
};

BusPlayers busPlayers() {
    BusPlayers players;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) {
        return players;
    }
    const QDBusReply<QStringList> names = bus.interface()->registeredServiceNames();
    if (!names.isValid()) {
        return players;
    }
    QStringList sorted = names.value();
    std::sort(sorted.begin(), sorted.end());
    for (const QString& name : sorted) {
        if (!name.startsWith(playerPrefix)) {
            continue;
        }
        if (name == spotifyBusName) {
            players.spotify = name;
        } else if (!players.music) {
            players.music = name;
        }
    }
    return players;
}

} // namespace

std::optional<MprisPlayer> MprisPlayer::find(const QString& name) {
    const BusPlayers players = busPlayers();
    const std::optional<QString>& busName = name == u"Spotify" ? players.spotify
                                            : name == u"Music" ? players.music
                                                               : std::optional<QString>();
    if (!busName) {
        return std::nullopt;
    }
    return MprisPlayer(*busName);
}

QStringList MprisPlayer::runningApplications() {
    const BusPlayers players = busPlayers();
    QStringList identifiers;
    if (players.spotify) {
        identifiers << QStringLiteral("com.spotify.client");
    }
    if (players.music) {
        identifiers << QStringLiteral("com.apple.Music");
    }
    return identifiers;
}

QDBusMessage MprisPlayer::send(const QString& interface, const QString& method,
                               const QVariantList& arguments) const {
    QDBusMessage message = QDBusMessage::createMethodCall(busName_, objectPath, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, replyTimeoutMs);
}

QDBusReply<void> MprisPlayer::call(const QString& method, const QVariantList& arguments) const {
    return send(playerInterface, method, arguments);
}

QDBusReply<QVariantMap> MprisPlayer::properties() const {
    return send(propertiesInterface, QStringLiteral("GetAll"), {playerInterface});
}

QDBusReply<QDBusVariant> MprisPlayer::property(const QString& name) const {
    return send(propertiesInterface, QStringLiteral("Get"), {playerInterface, name});
}

QDBusReply<void> MprisPlayer::setProperty(const QString& name, const QVariant& value) const {
    return send(propertiesInterface, QStringLiteral("Set"),
                {playerInterface, name, QVariant::fromValue(QDBusVariant(value))});
}

} // namespace zivra::platform::playerscript
