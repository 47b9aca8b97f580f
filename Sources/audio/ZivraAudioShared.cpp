#include "audio/ZivraAudio.h"
#include "audio/ZivraAudioEnvironment.h"

namespace zivra::audio {

ZivraAudioEnvironment ZivraAudioEnvironment::system() {
    ZivraAudioEnvironment environment;
    environment.sound = platform::sound::createSoundServer();
    return environment;
}

ZivraAudio& ZivraAudio::shared() {
    // Kept for the life of the process and never destroyed: the engine's
    // teardown belongs to cleanup(), not to static destruction.
    static ZivraAudio* const instance = new ZivraAudio(ZivraAudioEnvironment::system());
    return *instance;
}

} // namespace zivra::audio
