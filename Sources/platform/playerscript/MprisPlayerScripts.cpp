#include "platform/playerscript/PlayerScripts.h"

#include "platform/playerscript/Logging.h"
#include "platform/playerscript/MprisPlayer.h"
#include "platform/playerscript/ScriptShapes.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusObjectPath>

#include <algorithm>
#include <cmath>
#include <limits>

namespace zivra::platform::playerscript {

namespace {

constexpr int applicationNotRunning = -600;
constexpr int timedOut = -1712;
constexpr int noSuchObject = -1728;
constexpr int eventFailed = -10000;

ScriptOutcome nothing() {
    return {};
}

ScriptOutcome text(const QString& value) {
    return {true, value, 0, {}};
}

ScriptOutcome failure(int number, const QString& player, const QString& message) {
    return {false, std::nullopt, number,
            QStringLiteral("%1: %2 (%3)").arg(player, message, QString::number(number))};
}

// A D-Bus error as the script error a player would raise: access denied is the refusal to let
// Zivra control the player.
ScriptOutcome failure(const QDBusError& error, const QString& player) {
    qCWarning(playerScriptLog) << player << "answered with an error:" << error.name()
                               << error.message();
    switch (error.type()) {
    case QDBusError::AccessDenied:
        return failure(PlayerScripts::notPermitted, player, error.message());
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return failure(timedOut, player, error.message());
    default:
        return failure(eventFailed, player, error.message());
    }
}

// A failure inside a script's "try ... on error return """: only a refusal escapes it, as a
// refused automation does.
ScriptOutcome caught(const QDBusError& error, const QString& player) {
    return error.type() == QDBusError::AccessDenied ? failure(error, player) : text(QString());
}

template <typename Reply> ScriptOutcome outcomeOf(const Reply& reply, const QString& player) {
    return reply.isValid() ? nothing() : failure(reply.error(), player);
}

// D-Bus hands nested containers over still marshalled.
QVariant demarshalled(const QVariant& value) {
    if (value.metaType() != QMetaType::fromType<QDBusArgument>()) {
        return value;
    }
    const auto argument = value.value<QDBusArgument>();
    switch (argument.currentType()) {
    case QDBusArgument::MapType:
        return qdbus_cast<QVariantMap>(argument);
    case QDBusArgument::ArrayType:
        return qdbus_cast<QStringList>(argument);
    default:
        return value;
    }
}

QString seconds(qlonglong microseconds) {
    return QString::number(microseconds / 1e6, 'f', 6);
}

ScriptOutcome command(const MprisPlayer& player, const PlayerScript& script) {
    if (script.verb == u"playpause") {
        return outcomeOf(player.call(QStringLiteral("PlayPause")), script.player);
    }
    if (script.verb == u"next track") {
        return outcomeOf(player.call(QStringLiteral("Next")), script.player);
    }
    if (script.verb == u"previous track") {
        return outcomeOf(player.call(QStringLiteral("Previous")), script.player);
    }
    return outcomeOf(player.setProperty(QStringLiteral("Volume"), 0.0), script.player);
}

// "title|artist|state|position|duration"; the duration in milliseconds for Spotify and in
// seconds for Music, as those players report it; "" when there is no current track.
ScriptOutcome trackQuery(const MprisPlayer& player, const PlayerScript& script) {
    const QDBusReply<QVariantMap> reply = player.properties();
    if (!reply.isValid()) {
        return caught(reply.error(), script.player);
    }
    const QVariantMap properties = reply.value();
    const QVariantMap metadata = demarshalled(properties.value(u"Metadata"_qs)).toMap();
    if (metadata.isEmpty()) {
        return text(QString());
    }
    const qlonglong length = metadata.value(u"mpris:length"_qs).toLongLong();
    const QString duration =
        script.player == u"Spotify" ? QString::number(length / 1000) : seconds(length);
    const QStringList fields{
        metadata.value(u"xesam:title"_qs).toString(),
        demarshalled(metadata.value(u"xesam:artist"_qs)).toStringList().join(u", "),
        properties.value(u"PlaybackStatus"_qs).toString().toLower(),
        seconds(properties.value(u"Position"_qs).toLongLong()),
        duration,
    };
    return text(fields.join(u'|'));
}

ScriptOutcome seek(const MprisPlayer& player, const PlayerScript& script) {
    const QDBusReply<QDBusVariant> metadata = player.property(QStringLiteral("Metadata"));
    if (!metadata.isValid()) {
        return failure(metadata.error(), script.player);
    }
    const QVariant track =
        demarshalled(metadata.value().variant()).toMap().value(u"mpris:trackid"_qs);
    if (!track.canConvert<QDBusObjectPath>()) {
        return failure(noSuchObject, script.player, QStringLiteral("Can't get current track."));
    }
    // Positions beyond what D-Bus can carry are clamped; the player ignores them anyway.
    const double limit = static_cast<double>(std::numeric_limits<qlonglong>::max() / 2);
    const auto microseconds =
        static_cast<qlonglong>(std::llround(std::clamp(script.seconds * 1e6, -limit, limit)));
    return outcomeOf(
        player.call(QStringLiteral("SetPosition"),
                    {QVariant::fromValue(track.value<QDBusObjectPath>()), microseconds}),
        script.player);
}

ScriptOutcome permissionProbe(const MprisPlayer& player, const PlayerScript& script) {
    const QDBusReply<QDBusVariant> state = player.property(QStringLiteral("PlaybackStatus"));
    if (!state.isValid()) {
        return caught(state.error(), script.player);
    }
    return text(state.value().variant().toString().toLower());
}

// Zivra's player scripts carried out over MPRIS on the session bus.
class MprisPlayerScripts final : public PlayerScripts {
public:
    std::optional<ScriptOutcome> run(const QString& source) override {
        const std::optional<PlayerScript> script = recognise(source);
        if (!script) {
            qCWarning(playerScriptLog) << "A script of no known shape was not run:" << source;
            return std::nullopt;
        }
        const std::optional<MprisPlayer> player = MprisPlayer::find(script->player);
        if (!player) {
            // Every shape but the probe only acts when the player is running.
            return script->kind == PlayerScript::Kind::permissionProbe
                       ? failure(applicationNotRunning, script->player,
                                 QStringLiteral("Application isn't running."))
                       : nothing();
        }
        switch (script->kind) {
        case PlayerScript::Kind::command:
            return command(*player, *script);
        case PlayerScript::Kind::trackQuery:
            return trackQuery(*player, *script);
        case PlayerScript::Kind::seek:
            return seek(*player, *script);
        case PlayerScript::Kind::permissionProbe:
            return permissionProbe(*player, *script);
        }
        return std::nullopt;
    }

    QStringList runningApplications() override { return MprisPlayer::runningApplications(); }
};

} // namespace

PlayerScripts& systemPlayerScripts() {
    static MprisPlayerScripts scripts;
    return scripts;
}

} // namespace zivra::platform::playerscript
