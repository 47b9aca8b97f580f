#include "audio/AudioParameters.h"
#include "audio/ZivraAudio.h"

#include <cmath>

namespace zivra::audio {

void ZivraAudio::setRemoveVocalsEnabled(bool value) {
    publish(removeVocalsEnabled_, value, &ZivraAudio::removeVocalsEnabledChanged);
    if (!value) {
        setVocalRemovalMode(VocalRemovalMode::off);
    } else if (vocalRemovalMode_ == VocalRemovalMode::off) {
        setVocalRemovalMode(VocalRemovalMode::karaoke);
    }
    updateEngine();
    broadcastState();
}

void ZivraAudio::setVocalRemovalMode(VocalRemovalMode value) {
    publish(vocalRemovalMode_, value, &ZivraAudio::vocalRemovalModeChanged);
    if (isUpdatingVocalBlend_) {
        return;
    }
    applyVocalRemovalMode(value);
    broadcastState();
}

void ZivraAudio::setVocalMono(float value) {
    publish(vocalMono_, value, &ZivraAudio::vocalMonoChanged);
    onVocalBlendChanged();
}

void ZivraAudio::setVocalKaraoke(float value) {
    publish(vocalKaraoke_, value, &ZivraAudio::vocalKaraokeChanged);
    onVocalBlendChanged();
}

void ZivraAudio::onVocalBlendChanged() {
    if (isUpdatingVocalBlend_) {
        return;
    }
    copyBlendToParameters();
    markVocalRemovalModeCustomIfNeeded();
}

void ZivraAudio::copyBlendToParameters() {
    audioParams_->setBlend(vocalMono_, vocalKaraoke_);
}

std::pair<float, float> ZivraAudio::blendForMode(VocalRemovalMode mode) const {
    switch (mode) {
    case VocalRemovalMode::off:
        return {0.0f, 0.0f};
    case VocalRemovalMode::mono:
        return {1.0f, 0.0f};
    case VocalRemovalMode::wide:
        return {0.25f, 0.75f};
    case VocalRemovalMode::karaoke:
        return {0.0f, 1.0f};
    case VocalRemovalMode::aggressive:
        return {0.2f, 1.0f};
    case VocalRemovalMode::custom:
        break;
    }
    return {vocalMono_, vocalKaraoke_};
}

void ZivraAudio::applyVocalRemovalMode(VocalRemovalMode mode) {
    isUpdatingVocalBlend_ = true;
    if (mode != VocalRemovalMode::custom) {
        const auto [mono, karaoke] = blendForMode(mode);
        setVocalMono(mono);
        setVocalKaraoke(karaoke);
    }
    copyBlendToParameters();
    isUpdatingVocalBlend_ = false;
}

void ZivraAudio::markVocalRemovalModeCustomIfNeeded() {
    if (vocalRemovalMode_ == VocalRemovalMode::custom ||
        vocalRemovalMode_ == VocalRemovalMode::off) {
        return;
    }
    const auto [mono, karaoke] = blendForMode(vocalRemovalMode_);
    if (std::fabs(vocalMono_ - mono) <= 0.01f && std::fabs(vocalKaraoke_ - karaoke) <= 0.01f) {
        return;
    }
    setVocalRemovalMode(VocalRemovalMode::custom);
}

} // namespace zivra::audio
