#pragma once

#include "audio/ZivraAudioPermission.h"
#include "platform/sound/SoundServer.h"

#include <chrono>
#include <functional>
#include <memory>

namespace zivra::audio {

// The platform services an engine runs on: the real ones for
// ZivraAudio::shared(), fakes in unit tests. Handed by value to the engine,
// which uses it on the main thread only; the permission object is borrowed and
// must outlive the engine.
struct ZivraAudioEnvironment {
    std::shared_ptr<platform::sound::SoundServer> sound;
    ZivraAudioPermission* permission = &ZivraAudioPermission::shared();
    // Waits without blocking the main thread, then runs the continuation on
    // it. The default uses a main-loop timer.
    std::function<void(std::chrono::milliseconds, std::function<void()>)> sleep;

    // The desktop's sound server (its client connects on first use) and the
    // process-wide permission; sleep is left to the engine's main-loop timer.
    // Main thread; throws nothing but std::bad_alloc.
    static ZivraAudioEnvironment system();
};

} // namespace zivra::audio
