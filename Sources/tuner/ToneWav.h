#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace zivra::tuner {

// A sine tone as a complete WAVE file in memory: a 44-byte header (PCM, one channel, 16 bits,
// the rate truncated to whole hertz) and duration x sampleRate samples at half of full scale,
// starting at phase 0. The phase is carried sample to sample, so the file holds whole periods
// only where duration x frequency is whole. Empty when an argument is not finite, the rate is
// not positive, or the samples would not fit the format's 32-bit sizes.
//
// Any thread; the caller owns the bytes; throws nothing but std::bad_alloc.
std::optional<std::vector<std::uint8_t>> generateToneWAV(double frequency, double duration,
                                                         double sampleRate);

} // namespace zivra::tuner
