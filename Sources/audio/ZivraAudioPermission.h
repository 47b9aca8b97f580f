#pragma once

#include <functional>

namespace zivra::audio {

// The system-audio-recording permission. Linux desktops have no
// per-application permission to record what other programs play: the
// preflight answers granted and a request is granted at once. The engine's
// start path still goes through this object so that the prompt and refusal
// paths stay in one place. Main thread; shared() is a process-wide object
// nobody deletes. Throws nothing (the completion's own exceptions pass through).
class ZivraAudioPermission {
public:
    static ZivraAudioPermission& shared();

    virtual ~ZivraAudioPermission() = default;

    // True when capturing system audio is already allowed.
    virtual bool preflightAudioCapture() const;
    // Asks for the permission; the completion runs on the calling thread with
    // the answer (true = granted), possibly before this call returns.
    virtual void requestAudioCapturePermission(std::function<void(bool granted)> completion);
};

} // namespace zivra::audio
