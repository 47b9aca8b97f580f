#include "tuner/PitchDetection.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

namespace zivra::tuner {
namespace {

constexpr double highestFrequency = 2500;
constexpr double lowestFrequency = 60;
constexpr float silenceDeviation = 1e-6f;
constexpr float flatPeakCurvature = 1e-9f;

// The mean and the population standard deviation, then x = (samples - mean) / deviation.
// Returns the deviation.
float normalize(std::span<const float> samples, std::vector<float>& x) {
    double sum = 0;
    for (const float sample : samples) {
        sum += sample;
    }
    const double mean = sum / static_cast<double>(samples.size());
    double squares = 0;
    for (const float sample : samples) {
        const double offset = sample - mean;
        squares += offset * offset;
    }
    const auto deviation =
        static_cast<float>(std::sqrt(squares / static_cast<double>(samples.size())));
    const auto floatMean = static_cast<float>(mean);
    const float scale = 1.0f / deviation;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        x[i] = (samples[i] - floatMean) * scale;
    }
    return deviation;
}

// Sum of a[i] * b[i] in single precision, in independent lanes that the compiler turns into
// vector instructions.
float dot(const float* a, const float* b, std::size_t n) {
    float sum = 0;
#pragma omp simd reduction(+ : sum)
    for (std::size_t i = 0; i < n; ++i) {
        sum += a[i] * b[i];
    }
    return sum;
}

} // namespace

std::optional<double> detectFrequency(std::span<const float> samples, double sampleRate) {
    const std::size_t n = samples.size();
    if (n == 0 || !std::isfinite(sampleRate) || !(sampleRate > 0)) {
        return std::nullopt;
    }
    std::vector<float> x(n);
    if (!(normalize(samples, x) > silenceDeviation)) {
        return std::nullopt;
    }

    // Both lag limits are compared as doubles first: a huge rate must not overflow a cast.
    const double shortest = std::trunc(sampleRate / highestFrequency);
    const double longest = std::trunc(sampleRate / lowestFrequency);
    const std::size_t minLag =
        shortest < 1 ? 1 : static_cast<std::size_t>(std::min(shortest, static_cast<double>(n)));
    const std::size_t maxLag =
        longest >= static_cast<double>(n - 1) ? n - 1 : static_cast<std::size_t>(longest);
    if (minLag >= maxLag) {
        return std::nullopt;
    }

    std::vector<float> r(maxLag + 2, -std::numeric_limits<float>::infinity());
    std::size_t best = minLag;
    float bestValue = -std::numeric_limits<float>::infinity();
    for (std::size_t lag = minLag; lag <= maxLag; ++lag) {
        r[lag] = dot(x.data(), x.data() + lag, n - lag);
        if (r[lag] > bestValue) {
            bestValue = r[lag];
            best = lag;
        }
    }
    if (best == minLag || best == maxLag) {
        return std::nullopt;
    }

    const float y0 = r[best - 1];
    const float y1 = r[best];
    const float y2 = r[best + 1];
    const float curvature = (y0 - (y1 + y1)) + y2;
    const float denominator = curvature + curvature;
    auto lag = static_cast<double>(best);
    if (std::fabs(denominator) > flatPeakCurvature) {
        lag += static_cast<double>((y0 - y2) / denominator);
    }
    return sampleRate / lag;
}

} // namespace zivra::tuner
