#pragma once

#include <QString>

#include <optional>

namespace zivra::platform::playerscript {
class PlayerScripts;
}

namespace zivra::handoff {

// What the media players "Spotify" and "Music" are playing, seeking in them, and whether Zivra
// may control them. Every operation blocks its caller while the players answer. Any thread
// (a phone's connection thread asks for tracks and seeks); the given player scripts are
// borrowed for the call. Results are copies; nothing throws but std::bad_alloc.
class NowPlayingProvider {
public:
    NowPlayingProvider() = delete;

    struct Track {
        QString title;
        QString artist;
        bool isPlaying = false;
        double position = 0; // seconds
        double duration = 0; // seconds
    };

    enum class MediaControlPermissionStatus {
        undetermined = 0,
        noPlayerRunning = 1,
        granted = 2,
        denied = 3,
    };

    // The current track of "Spotify" or "Music"; absent when the player is not running or
    // has no track.
    static std::optional<Track> track(const QString& app);
    // Moves the playback position of both players, in seconds.
    static void setPosition(double seconds);
    // Probes whether Zivra may control the running players.
    static MediaControlPermissionStatus preflightMediaControlPermission();
    // Whether "Spotify" or "Music" is running; asks no player anything.
    static bool isPlayerRunning();

    // The same operations against the given player scripts.
    static std::optional<Track> track(const QString& app,
                                      platform::playerscript::PlayerScripts& scripts);
    static void setPosition(double seconds, platform::playerscript::PlayerScripts& scripts);
    static MediaControlPermissionStatus
    preflightMediaControlPermission(platform::playerscript::PlayerScripts& scripts);
    static bool isPlayerRunning(platform::playerscript::PlayerScripts& scripts);
};

} // namespace zivra::handoff
