#include "audio/AudioParameters.h"

namespace zivra::audio {

void AudioParameters::setVolume(float volume) {
    std::lock_guard guard(lock_);
    values_.volume = volume;
}

void AudioParameters::setBlend(float vocalMono, float vocalKaraoke) {
    std::lock_guard guard(lock_);
    values_.vocalMono = vocalMono;
    values_.vocalKaraoke = vocalKaraoke;
}

void AudioParameters::setDualMonoOutput(bool dualMonoOutput) {
    std::lock_guard guard(lock_);
    values_.dualMonoOutput = dualMonoOutput;
}

AudioParameters::Values AudioParameters::snapshot() const {
    std::lock_guard guard(lock_);
    return values_;
}

} // namespace zivra::audio
