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
};

} // namespace zivra::audio
