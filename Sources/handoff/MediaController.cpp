#include "handoff/MediaController.h"

#include "handoff/PlayerScriptTexts.h"
#include "platform/mediakeys/MediaKeys.h"
#include "platform/playerscript/PlayerScripts.h"

#include <QCoreApplication>

#include <array>
#include <chrono>
#include <thread>

namespace zivra::handoff {

namespace {

struct CommandRoute {
    long mediaKey; // the key type a keyboard's media key reports
    const char* verb;
};

// Indexed by MediaController::Command. Rewind and fast-forward have no script verb of their own
// and move by whole tracks.
constexpr std::array<CommandRoute, 6> routes{{
    {16, "playpause"},
    {17, "next track"},
    {18, "previous track"},
    {20, "previous track"},
    {19, "next track"},
    {7, "set sound volume to 0"},
}};

const CommandRoute& routeOf(MediaController::Command command) {
    return routes[static_cast<std::size_t>(command)];
}

using platform::mediakeys::SystemDefinedEvent;

// The key-down (pressed) or key-up (released) event of one media key; the state sits in bits 8
// to 15 of both the modifier flags and data1.
SystemDefinedEvent mediaKeyEvent(long key, long state) {
    SystemDefinedEvent event;
    event.type = SystemDefinedEvent::systemDefinedType;
    event.modifierFlags = static_cast<std::uint64_t>(state << 8);
    event.subtype = SystemDefinedEvent::auxiliaryControlButtons;
    event.data1 = (key << 16) | (state << 8);
    event.data2 = -1;
    return event;
}

} // namespace

MediaController& MediaController::shared() {
    static MediaController* const controller = new MediaController(
        platform::mediakeys::systemMediaKeys(), platform::playerscript::systemPlayerScripts());
    return *controller;
}

MediaController::MediaController(platform::mediakeys::MediaKeys& keys,
                                 platform::playerscript::PlayerScripts& scripts)
    : keys_(keys), scripts_(scripts) {
    // Commands run on the main thread even when the first one arrives on a connection thread.
    if (QCoreApplication* app = QCoreApplication::instance()) {
        moveToThread(app->thread());
    }
}

void MediaController::send(Command command) {
    // Queued with this object as context: a controller that is gone by then drops the command.
    QMetaObject::invokeMethod(
        this,
        [this, command] {
            if (ensureTrusted()) {
                postMediaKey(command);
                sendAppleScript(command);
            }
        },
        Qt::QueuedConnection);
}

bool MediaController::isProcessTrusted() {
    return keys_.isProcessTrusted();
}

bool MediaController::isProcessTrustedWithPrompt() {
    return keys_.isProcessTrustedWithPrompt();
}

bool MediaController::ensureTrusted() {
    const bool trusted = keys_.isProcessTrusted();
    if (trusted || hasPromptedForAccessibility) {
        return trusted;
    }
    hasPromptedForAccessibility = true;
    // The command that prompts is dropped whatever the answer; later ones go through once the
    // user has trusted the process.
    keys_.isProcessTrustedWithPrompt();
    return false;
}

void MediaController::postMediaKey(Command command) {
    const long key = routeOf(command).mediaKey;
    keys_.post(mediaKeyEvent(key, SystemDefinedEvent::pressedState));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    keys_.post(mediaKeyEvent(key, SystemDefinedEvent::releasedState));
}

void MediaController::sendAppleScript(Command command) {
    const QString verb = QString::fromLatin1(routeOf(command).verb);
    for (const QString& player : scriptedPlayers) {
        // Failures are the players' business: the other player still gets its script.
        scripts_.run(commandScript(player, verb));
    }
}

} // namespace zivra::handoff
