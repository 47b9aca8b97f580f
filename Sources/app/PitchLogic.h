#pragma once

#include "audio/PitchControlMode.h"

#include <QString>

namespace zivra::audio {
class ZivraAudio;
}

namespace zivra::app {

// The pitch controls' arithmetic. The pure functions run on any thread; the two that take the
// engine run on the main thread and borrow it. Nothing throws but std::bad_alloc.

// The pitch controls' range, in cents.
inline constexpr float minimumPitchCents = -1200;
inline constexpr float maximumPitchCents = 1200;

// One press of "-" or "+", in cents: a semitone, or ten cents in cents mode.
float pitchStep(audio::PitchControlMode mode);
// The pitch in semitones as the popover shows it: signed, one decimal in cents mode, whole
// semitones otherwise.
QString pitchDisplayValue(float cents, audio::PitchControlMode mode);
// cents rounded to the nearest whole semitone, halves away from zero.
float roundedToSemitone(float cents);
// Moves the engine's pitch by delta cents, clamped to the range and, in semitones mode, snapped
// to a whole semitone. Assigns even an unchanged value, so the engine pushes and broadcasts it.
void adjustPitch(audio::ZivraAudio& audio, float delta);
// The "Snap to semitones" switch: on snaps the pitch to whole semitones, off only changes the
// mode.
void setSnapToSemitones(audio::ZivraAudio& audio, bool on);

} // namespace zivra::app
