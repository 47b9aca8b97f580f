#pragma once

#include "platform/sound/Microphone.h"
#include "platform/sound/TonePlayer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace zivra::tuner {

// The platform services a tuner works with: the real ones for Tuner::shared(), a test's own
// where a test must decide (a refused microphone, say). The tuner keeps it and calls it on
// the main thread; the objects the factories return are the caller's.
struct TunerEnvironment {
    // Asks whether the microphone may be used and calls the completion once with the answer,
    // on any thread.
    std::function<void(std::function<void(bool granted)> completion)> requestMicrophoneAccess;
    // Opens the default input; throws platform::sound::SoundError, ServerUnanswered when the
    // server did not answer in time.
    std::function<std::unique_ptr<platform::sound::Microphone>()> openMicrophone;
    // A player for a WAVE file in memory at a volume; throws platform::sound::SoundError.
    std::function<std::unique_ptr<platform::sound::TonePlayer>(std::span<const std::uint8_t>,
                                                               float volume)>
        createPlayer;
    // Calls the callback once, on any thread, the next time the sound server answers this
    // process after it did not: how a tuner waiting for a silent or slow server knows when to
    // open the microphone again. Needed wherever openMicrophone may throw
    // platform::sound::ServerUnanswered.
    std::function<void(std::function<void()> answered)> whenServerAnswers;

    // The desktop's services: the microphone is always granted (Linux desktops ask no
    // permission for it), the default source and the default sink of the sound server. Any
    // thread.
    static TunerEnvironment system();
};

} // namespace zivra::tuner
