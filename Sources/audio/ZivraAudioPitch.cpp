#include "audio/EngineObjects.h"
#include "audio/Semitones.h"
#include "audio/ZivraAudio.h"

#include <cmath>
#include <optional>

namespace zivra::audio {

namespace {

// pitchCents / 100 rounded half away from zero, in single precision as the
// controls compute it; nothing when the value cannot become semitones.
std::optional<qint64> semitonesForCents(float cents) {
    if (!std::isfinite(cents)) {
        return std::nullopt;
    }
    const float rounded = nearestSemitone(cents);
    constexpr float limit = 9223372036854775808.0f; // 2^63
    if (!(rounded >= -limit && rounded < limit)) {
        return std::nullopt;
    }
    return static_cast<qint64>(rounded);
}

} // namespace

void ZivraAudio::setPitchEnabled(bool value) {
    publish(pitchEnabled_, value, &ZivraAudio::pitchEnabledChanged);
    updatePitch();
    updateEngine();
    broadcastState();
}

void ZivraAudio::setPitchCents(float value) {
    if (!semitonesForCents(value)) {
        return;
    }
    publish(pitchCents_, value, &ZivraAudio::pitchCentsChanged);
    updatePitch();
    syncSemitones();
    broadcastState();
}

void ZivraAudio::setPitchSemitones(qint64 value) {
    publish(pitchSemitones_, value, &ZivraAudio::pitchSemitonesChanged);
    if (isSyncingPitch_ || pitchControlMode_ == PitchControlMode::cents) {
        return;
    }
    setPitchCents(static_cast<float>(value) * 100.0f);
}

void ZivraAudio::setPitchControlMode(PitchControlMode value) {
    publish(pitchControlMode_, value, &ZivraAudio::pitchControlModeChanged);
    syncPitchForMode();
}

void ZivraAudio::updatePitch() {
    if (!objects_->graph) {
        return;
    }
    objects_->graph->setPitch(pitchEnabled_ ? pitchCents_ : 0.0f);
    objects_->graph->setBypass(!pitchEnabled_);
}

void ZivraAudio::syncSemitones() {
    const qint64 semitones = *semitonesForCents(pitchCents_);
    if (isSyncingPitch_ || semitones == pitchSemitones_) {
        return;
    }
    isSyncingPitch_ = true;
    setPitchSemitones(semitones);
    isSyncingPitch_ = false;
}

void ZivraAudio::syncPitchForMode() {
    if (pitchControlMode_ == PitchControlMode::cents) {
        return;
    }
    setPitchSemitones(*semitonesForCents(pitchCents_));
}

} // namespace zivra::audio
