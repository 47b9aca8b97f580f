#include "audio/ZivraAudio.h"
#include "audio/ZivraAudioEnvironment.h"

namespace zivra::audio {

namespace {

ZivraAudio* createShared() {
    ZivraAudioEnvironment environment;
    environment.sound = platform::sound::createSoundServer();
    return new ZivraAudio(std::move(environment));
}

} // namespace

ZivraAudio& ZivraAudio::shared() {
    // Kept for the life of the process and never destroyed: the engine's
    // teardown belongs to cleanup(), not to static destruction.
    static ZivraAudio* const instance = createShared();
    return *instance;
}

} // namespace zivra::audio
