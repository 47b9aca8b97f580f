#pragma once

#include <cstddef>
#include <vector>

// Checks audio by frequency and relative level, never by sample values.
namespace zivra::platform::sound {

// One channel (0 left, 1 right) of interleaved stereo; mid is (L+R)/2 and
// side is (L-R)/2.
std::vector<float> channel(const std::vector<float>& interleaved, int index);
std::vector<float> mid(const std::vector<float>& interleaved);
std::vector<float> side(const std::vector<float>& interleaved);

// The last `frames` samples (all of them when fewer are there).
std::vector<float> tail(const std::vector<float>& samples, std::size_t frames);

// Amplitude of the sine component at frequency in dB relative to full scale
// (a full-scale sine reads 0 dB), measured with a Hann-windowed Goertzel
// filter. Silence reads very low (below -200 dB).
double levelDb(const std::vector<float>& samples, double rate, double frequency);

// Frequency of the strongest component between low and high, in Hz, found by
// scanning in one-cent steps.
double peakFrequency(const std::vector<float>& samples, double rate, double low, double high);

// Distance of two frequencies in cents.
double centsBetween(double a, double b);

// Root mean square level in dB relative to full scale.
double rmsDb(const std::vector<float>& samples);

} // namespace zivra::platform::sound
