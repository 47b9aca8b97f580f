#pragma once

#include <QObject>

namespace zivra {

namespace platform {
class MediaKeys;
class PlayerScripts;
} // namespace platform

// Carries transport commands to the desktop's media players: every command is posted as a
// media key and sent as a script to "Spotify" and then "Music".
class MediaController : public QObject {
    Q_OBJECT
public:
    enum class Command { playPause = 0, nextTrack, previousTrack, rewind, fastForward, mute };

    // The one controller, created on first use and kept for the life of the process.
    static MediaController& shared();

    MediaController(platform::MediaKeys& keys, platform::PlayerScripts& scripts);

    // Returns at once; the command is carried out later on the main thread, after the commands
    // sent before it. May be called from any thread.
    void send(Command command);

    // Whether this process may post media keys.
    bool isProcessTrusted();
    // Asks the desktop to trust this process (the desktop may show its prompt); answers whether
    // the process is trusted now.
    bool isProcessTrustedWithPrompt();

    // The trust prompt has been asked for once; set it before showing the prompt elsewhere so
    // that commands never prompt a second time. Main thread only.
    bool hasPromptedForAccessibility = false;

private:
    bool ensureTrusted();
    void postMediaKey(Command command);
    void sendAppleScript(Command command);

    platform::MediaKeys& keys_;
    platform::PlayerScripts& scripts_;
};

} // namespace zivra
