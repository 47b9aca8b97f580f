#pragma once

#include <QObject>

namespace zivra::platform::mediakeys {
class MediaKeys;
}
namespace zivra::platform::playerscript {
class PlayerScripts;
}

namespace zivra::handoff {

// Carries transport commands to the desktop's media players: every command is posted as a
// media key and sent as a script to "Spotify" and then "Music". The keys and the scripts are
// borrowed and must outlive the controller. Nothing here throws but std::bad_alloc; a player
// that fails is left to itself.
class MediaController : public QObject {
    Q_OBJECT
public:
    enum class Command { playPause = 0, nextTrack, previousTrack, rewind, fastForward, mute };

    // The one controller, created on first use and kept for the life of the process.
    static MediaController& shared();

    MediaController(platform::mediakeys::MediaKeys& keys,
                    platform::playerscript::PlayerScripts& scripts);

    // Returns at once; the command is carried out later on the main thread, after the commands
    // sent before it. May be called from any thread.
    void send(Command command);

    // Whether this process may post media keys. This and the prompt below: main thread only.
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

    platform::mediakeys::MediaKeys& keys_;
    platform::playerscript::PlayerScripts& scripts_;
};

} // namespace zivra::handoff
