#include "handoff/PlayerScriptTexts.h"

namespace zivra::handoff {

QString commandScript(const QString& player, const QString& verb) {
    return "if application \"" + player + "\" is running then\n    tell application \"" + player +
           "\" to " + verb + "\nend if";
}

QString trackQueryScript(const QString& player) {
    return "if application \"" + player + "\" is running then\n    tell application \"" + player +
           "\"\n        try\n            return (name of current track) & \"|\" & (artist of "
           "current track) & \"|\" & (player state as string) & \"|\" & (player position as "
           "string) & \"|\" & (duration of current track as string)\n        on error\n"
           "            return \"\"\n        end try\n    end tell\nend if";
}

QString seekScript(const QString& player, double seconds) {
    return QStringLiteral("if application \"%1\" is running then\n    tell application \"%1\" to "
                          "set player position to %2\nend if")
        .arg(player, QString::number(seconds, 'f', 6));
}

QString permissionProbeScript(const QString& player) {
    return "tell application \"" + player +
           "\"\n    try\n        return (player state as string)\n    on error\n        return "
           "\"\"\n    end try\nend tell";
}

} // namespace zivra::handoff
