#pragma once

#include <QString>
#include <QStringList>

// The scripts Zivra sends to the media players "Spotify" and "Music". Pure text builders: any
// thread, the caller owns the returned text, nothing thrown but std::bad_alloc.
namespace zivra::handoff {

// The players, in the order Zivra addresses them.
inline const QStringList scriptedPlayers{QStringLiteral("Spotify"), QStringLiteral("Music")};

// Sends one command (a verb such as "playpause") to the player when it is running.
QString commandScript(const QString& player, const QString& verb);
// Asks the running player for "title|artist|state|position|duration" of its current track.
QString trackQueryScript(const QString& player);
// Moves the running player's position to the given second.
QString seekScript(const QString& player, double seconds);
// Asks the player for its state, to find out whether Zivra may control it.
QString permissionProbeScript(const QString& player);

} // namespace zivra::handoff
