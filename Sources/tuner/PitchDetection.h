#pragma once

#include <optional>
#include <span>

namespace zivra::tuner {

// The fundamental frequency of one buffer of a single channel, in Hz: time-domain
// autocorrelation of the normalised samples over the lags of 2500 Hz down to 60 Hz; when a
// shorter lag near a whole fraction of the highest correlation's repeats the signal nearly as
// well (nine tenths per overlapping sample, between whole lags too), that shorter one is the
// period; a parabola through the period's correlation and its two neighbours refines it. Empty
// when the buffer says nothing: silent or constant (or not finite), too short for the lag range,
// a peak on an edge of the range or before the correlation first turns negative, a period at or
// below the shortest searched lag (a fundamental above 2500 Hz), or a sample rate that is not a
// positive finite number.
//
// Any thread; allocates its two working lists, throws nothing but std::bad_alloc.
std::optional<double> detectFrequency(std::span<const float> samples, double sampleRate);

} // namespace zivra::tuner
