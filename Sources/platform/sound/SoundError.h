#pragma once

#include <stdexcept>
#include <string>

namespace zivra::platform::sound {

// A failure reported by the sound server. code() is the server library's own
// error number (a libpulse error code for the real layer); what() is the
// server's own description of it, which the engine shows to the user. Thrown
// by the sound layer on whatever thread called it (the main thread in Zivra).
class SoundError : public std::runtime_error {
public:
    SoundError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    int code() const noexcept { return code_; }

private:
    int code_;
};

// The tap could not be made because another Zivra or its tap guard holds the
// tap lock: a failure about time, not devices, over once the lock is free.
class TapLockHeld : public SoundError {
public:
    using SoundError::SoundError;
};

// The sound server has not answered within the caller's patience: stopped,
// hung or slow, but not gone. A failure about time, over once it answers;
// what was asked may still be carried out then.
class ServerUnanswered : public SoundError {
public:
    using SoundError::SoundError;
};

} // namespace zivra::platform::sound
