#include "ZivraAudio.h"
#include "ZivraAudioEnvironment.h"

ZivraAudio& ZivraAudio::shared() {
    // Kept for the life of the process and never destroyed: the engine's
    // teardown belongs to cleanup(), not to static destruction.
    static ZivraAudio* const instance =
        new ZivraAudio(ZivraAudioEnvironment{zivra::sound::createSoundServer()});
    return *instance;
}
