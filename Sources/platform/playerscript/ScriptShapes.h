#pragma once

#include <QString>

#include <optional>

namespace zivra::platform::playerscript {

// One of the few scripts Zivra sends to a player, taken apart.
struct PlayerScript {
    enum class Kind {
        command,         // "tell application ... to <verb>" when the player is running
        trackQuery,      // title|artist|state|position|duration of the current track
        seek,            // "set player position to <seconds>" when the player is running
        permissionProbe, // the player's state, asked without the running test
    };
    Kind kind = Kind::command;
    QString player;
    QString verb; // command: "playpause", "next track", "previous track" or "set sound volume to 0"
    double seconds = 0; // seek
};

// The script a source text is, when it has one of the known shapes; whitespace between words
// may vary as it may in any script. Any thread; returns a copy; throws nothing but
// std::bad_alloc.
std::optional<PlayerScript> recognise(const QString& source);

} // namespace zivra::platform::playerscript
