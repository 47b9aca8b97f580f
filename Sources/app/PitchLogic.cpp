#include "app/PitchLogic.h"

#include "audio/Semitones.h"
#include "audio/ZivraAudio.h"

#include <algorithm>
#include <cstdio>

namespace zivra::app {

float pitchStep(audio::PitchControlMode mode) {
    return mode == audio::PitchControlMode::cents ? 10.0f : 100.0f;
}

QString pitchDisplayValue(float cents, audio::PitchControlMode mode) {
    // Adding zero turns a negative zero into zero, which reads "+0" rather than "-0".
    const float semitones = cents / 100.0f + 0.0f;
    char text[64];
    std::snprintf(text, sizeof text, mode == audio::PitchControlMode::cents ? "%+.1f" : "%+.0f",
                  double(semitones));
    return QString::fromLatin1(text);
}

float roundedToSemitone(float cents) {
    return audio::nearestSemitone(cents) * 100.0f;
}

void adjustPitch(audio::ZivraAudio& audio, float delta) {
    float value =
        std::min(std::max(audio.pitchCents() + delta, minimumPitchCents), maximumPitchCents);
    if (audio.pitchControlMode() == audio::PitchControlMode::semitones) {
        value = roundedToSemitone(value);
    }
    audio.setPitchCents(value);
}

void setSnapToSemitones(audio::ZivraAudio& audio, bool on) {
    audio.setPitchControlMode(on ? audio::PitchControlMode::semitones
                                 : audio::PitchControlMode::cents);
    if (on) {
        audio.setPitchCents(roundedToSemitone(audio.pitchCents()));
    }
}

} // namespace zivra::app
