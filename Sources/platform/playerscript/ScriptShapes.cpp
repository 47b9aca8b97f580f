#include "platform/playerscript/ScriptShapes.h"

#include <QRegularExpression>

namespace zivra::platform::playerscript {

namespace {

// Every shape is written with single spaces; any run of whitespace matches one.
QRegularExpression shape(QString pattern) {
    pattern.replace(QLatin1Char(' '), QLatin1String("\\s+"));
    return QRegularExpression(QLatin1String("\\A\\s*") + pattern + QLatin1String("\\s*\\z"));
}

const QString runningGuard = QStringLiteral(
    R"re(if application "(?<player>[^"]+)" is running then tell application "\k<player>")re");
const QString stateReply = QStringLiteral(R"re(\(player state as string\))re");
const QString emptyOnError = QStringLiteral(R"re(on error return "" end try)re");

struct Shape {
    PlayerScript::Kind kind;
    QRegularExpression pattern;
};

const Shape shapes[] = {
    {PlayerScript::Kind::command,
     shape(runningGuard +
           R"re( to (?<verb>playpause|next track|previous track|set sound volume to 0) end if)re")},
    {PlayerScript::Kind::seek,
     shape(runningGuard +
           R"re( to set player position to (?<seconds>-?[0-9]+(?:\.[0-9]+)?) end if)re")},
    {PlayerScript::Kind::trackQuery,
     shape(runningGuard + R"re( try return \(name of current track\) & "\|" & )re" +
           R"re(\(artist of current track\) & "\|" & )re" + stateReply +
           R"re( & "\|" & \(player position as string\) & "\|" & )re" +
           R"re(\(duration of current track as string\) )re" + emptyOnError +
           R"re( end tell end if)re")},
    {PlayerScript::Kind::permissionProbe,
     shape(R"re(tell application "(?<player>[^"]+)" try return )re" + stateReply + " " +
           emptyOnError + R"re( end tell)re")},
};

} // namespace

std::optional<PlayerScript> recognise(const QString& source) {
    for (const Shape& candidate : shapes) {
        const QRegularExpressionMatch match = candidate.pattern.match(source);
        if (match.hasMatch()) {
            return PlayerScript{candidate.kind, match.captured(u"player"), match.captured(u"verb"),
                                match.captured(u"seconds").toDouble()};
        }
    }
    return std::nullopt;
}

} // namespace zivra::platform::playerscript
