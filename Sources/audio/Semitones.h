#pragma once

#include <cmath>

namespace zivra::audio {

// cents / 100 rounded to the nearest whole semitone, halves away from zero, in
// single precision as the pitch controls compute it. Any thread; throws nothing.
inline float nearestSemitone(float cents) {
    return std::round(cents / 100.0f);
}

} // namespace zivra::audio
