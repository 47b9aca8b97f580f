#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace zivra::platform::playerscript {

// What running one player script gave back.
struct ScriptOutcome {
    // False when the script failed; errorNumber and errorDescription say why.
    bool succeeded = true;
    // The result's text; absent when the script returned nothing.
    std::optional<QString> stringValue;
    int errorNumber = 0;
    QString errorDescription;
};

// Runs Zivra's player scripts against the desktop's media players, the players named
// "Spotify" and "Music". Any thread; both calls block on the session bus. Failures are in
// the outcome, not thrown (nothing is but std::bad_alloc).
class PlayerScripts {
public:
    // The error number of a script that the user does not allow to control the player.
    static constexpr int notPermitted = -1743;

    virtual ~PlayerScripts() = default;

    // Compiles and runs a script synchronously. Absent when the text is not a script the
    // runner can compile.
    virtual std::optional<ScriptOutcome> run(const QString& source) = 0;
    // Application identifiers of the running players: "com.spotify.client" for "Spotify",
    // "com.apple.Music" for "Music".
    virtual QStringList runningApplications() = 0;
};

// The player scripts of the session (safe to use from any thread). A process-wide object that
// lives until exit; callers only borrow it.
PlayerScripts& systemPlayerScripts();

} // namespace zivra::platform::playerscript
