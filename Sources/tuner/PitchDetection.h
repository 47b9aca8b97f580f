#pragma once

#include <optional>
#include <span>

namespace zivra::tuner {

// The fundamental frequency of one buffer of a single channel, in Hz: time-domain
// autocorrelation of the normalised samples over the lags of 2500 Hz down to 60 Hz, past the
// first lag at which it turns negative; when a shorter lag near a whole fraction of the highest
// correlation's repeats the signal nearly as well (nine tenths as clearly, between whole lags
// too) and follows a dip to half as clearly, that shorter one is the period, unless twice or
// three times it repeats the signal clearly better (weak odd partials), also where each sample
// near the buffer's edges counts against it no more often than against the multiple; a parabola
// through the period's correlation and its two neighbours refines it. Empty when the buffer says
// nothing: silent or constant (or not finite), too short for the lag range, never turning
// negative, a peak on an edge of the range, a period outside it, a period that repeats the
// signal less than 0.4 as clearly as a perfect repeat (noise), a lag up to an octave below the
// range that repeats it clearly better (a fundamental below the range), or a sample rate that is
// not a positive finite number.
//
// Any thread; allocates its three working lists, throws nothing but std::bad_alloc.
std::optional<double> detectFrequency(std::span<const float> samples, double sampleRate);

} // namespace zivra::tuner
