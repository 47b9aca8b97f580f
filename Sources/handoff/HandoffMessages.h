#pragma once

#include "audio/VocalRemovalMode.h"
#include "handoff/NowPlayingProvider.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The JSON messages that travel over a phone's WebSocket: the phone's
// commands, and Zivra's "state", "nowPlaying" and "config" messages.
// Pure functions: callable from any thread, they throw nothing.
namespace zivra::handoff {

// One command of a phone, as read from a text frame.
struct HandoffCommand {
    enum class Action {
        playPause,
        nextTrack,
        previousTrack,
        rewind,
        fastForward,
        mute,
        getNowPlaying,
        getState,
        setPitchEnabled,
        setRemoveVocalsEnabled,
        setPitchCents,
        setVocalMode,
        seek,
    };

    Action action = Action::getState;
    bool enabled = false; // setPitchEnabled, setRemoveVocalsEnabled
    double number = 0;    // setPitchCents: cents; seek: seconds
    audio::VocalRemovalMode mode = audio::VocalRemovalMode::off; // setVocalMode
};

// The command a text frame holds: a JSON object whose "action" is one of the
// table's names (exact case) and whose "value", for the actions that take
// one, has the action's type (a JSON Boolean, number or string; numbers and
// Booleans are not converted into each other). Nothing for anything else: a
// phone's text is untrusted, so malformed, mistyped or absurd input is
// dropped here. A pitch must be finite with a semitone quotient that fits a
// signed 64-bit integer, in single precision as the engine keeps it.
std::optional<HandoffCommand> parseHandoffCommand(std::string_view text);

// What the "state" message reports of the engine.
struct HandoffState {
    bool pitchEnabled = false;
    float pitchCents = 0;
    bool removeVocalsEnabled = false;
    audio::VocalRemovalMode vocalRemovalMode = audio::VocalRemovalMode::off;
};

// The message texts; nothing when a number in them is not finite (JSON has
// no such numbers, so the message is not sent).
std::optional<std::string> stateMessage(const HandoffState& state);
std::optional<std::string> nowPlayingMessage(const NowPlayingProvider::Track& track);
std::optional<std::string> configMessage(double sampleRate);

// The rate an audio frame is announced at: 48000 Hz when the rate is unknown
// (0 or less, or not a number).
double announcedSampleRate(double sampleRate);
// Samples of one 50 ms audio frame at the announced rate, truncated toward
// zero: 2400 at 48000 Hz, 2205 at 44100 Hz. Rates beyond what a sound server
// offers give 0.
std::uint32_t packetFrames(double sampleRate);

} // namespace zivra::handoff
