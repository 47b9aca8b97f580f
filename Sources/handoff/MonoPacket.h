#pragma once

#include <cstdint>

// Turning captured audio into the phone's audio frames: mono, signed 16-bit,
// little-endian. Pure functions, callable from any thread; they throw nothing
// and allocate nothing. Buffers are the caller's and borrowed for the call.
namespace zivra::handoff {

// One mono value from a left and a right sample. Two channels that nearly
// cancel (their sum below 5 % of the louder one) would mix to silence, so
// the louder channel is taken alone (the left one on a tie); otherwise the
// two are averaged.
float monoOf(float left, float right);

// A sample as a signed 16-bit value: v × 32767, clamped to the 16-bit range
// (not a number counts as the top), truncated toward zero.
std::int16_t pcm16Of(float sample);

// Mixes `frames` interleaved frames of `channels` samples to mono (the first
// two channels; one channel is taken as it is) and writes frames × 2 bytes
// of little-endian 16-bit samples to `out`, which must have room for them.
// Nothing is written for 0 channels.
void mixToMonoPcm16(const float* interleaved, std::uint32_t frames, std::uint32_t channels,
                    std::uint8_t* out);

} // namespace zivra::handoff
