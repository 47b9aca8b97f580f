#include "app/PitchLogic.h"

#include "audio/ZivraAudio.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zivra {

float pitchStep(PitchControlMode mode) {
    return mode == PitchControlMode::cents ? 10.0f : 100.0f;
}

QString pitchDisplayValue(float cents, PitchControlMode mode) {
    // Adding zero turns a negative zero into zero, which reads "+0" rather than "-0".
    const float semitones = cents / 100.0f + 0.0f;
    char text[64];
    std::snprintf(text, sizeof text, mode == PitchControlMode::cents ? "%+.1f" : "%+.0f",
                  double(semitones));
    return QString::fromLatin1(text);
}

float roundedToSemitone(float cents) {
    return std::round(cents / 100.0f) * 100.0f;
}

void adjustPitch(ZivraAudio& audio, float delta) {
    float value =
        std::min(std::max(audio.pitchCents() + delta, minimumPitchCents), maximumPitchCents);
    if (audio.pitchControlMode() == PitchControlMode::semitones) {
        value = roundedToSemitone(value);
    }
    audio.setPitchCents(value);
}

void setSnapToSemitones(ZivraAudio& audio, bool on) {
    audio.setPitchControlMode(on ? PitchControlMode::semitones : PitchControlMode::cents);
    if (on) {
        audio.setPitchCents(roundedToSemitone(audio.pitchCents()));
    }
}

} // namespace zivra
