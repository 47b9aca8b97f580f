#pragma once

#include <QDBusReply>
#include <QDBusVariant>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

namespace zivra::platform::playerscript {

// The MPRIS player on the session bus that stands for "Spotify" or "Music": Spotify's own bus
// name, and for Music the first other player in name order. A value holding only the bus
// name; usable from any thread. Each call blocks on the session bus (with a timeout) and
// reports failure in the returned reply, never by throwing (beyond std::bad_alloc).
class MprisPlayer {
public:
    // The player the name stands for, when it is on the bus.
    static std::optional<MprisPlayer> find(const QString& name);
    // "com.spotify.client" and "com.apple.Music" for the players that are on the bus.
    static QStringList runningApplications();

    QDBusReply<void> call(const QString& method, const QVariantList& arguments = {}) const;
    QDBusReply<QVariantMap> properties() const;
    QDBusReply<QDBusVariant> property(const QString& name) const;
    QDBusReply<void> setProperty(const QString& name, const QVariant& value) const;

private:
    explicit MprisPlayer(QString busName) : busName_(std::move(busName)) {}

    QDBusMessage send(const QString& interface, const QString& method,
                      const QVariantList& arguments) const;

    QString busName_;
};

} // namespace zivra::platform::playerscript
