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
// A shorter lag that correlates at least this share of the best lag's height is the period
// the best lag is a multiple of. Under-sampled true periods (a tenth of a millisecond, rich
// in harmonics) reach 0.83 of it; other local maxima of the tones tried stay below 0.53.
constexpr double periodShare = 0.7;

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

// The height of the parabola through the correlation at lag and its two neighbours.
double parabolaHeight(const std::vector<float>& r, std::size_t lag) {
    const double y0 = r[lag - 1];
    const double y1 = r[lag];
    const double y2 = r[lag + 1];
    const double curvature = y0 - 2 * y1 + y2;
    return std::fabs(curvature) > flatPeakCurvature ? y1 - (y2 - y0) * (y2 - y0) / (8 * curvature)
                                                    : y1;
}

// The shortest lag that repeats the signal about as well as `best` does: a local maximum near
// best / k (k = 2, 3, ...) whose parabola reaches periodShare of best's. Only lags past the
// first negative correlation count: a smooth signal correlates highly at the shortest lags
// without repeating there. `best` itself when no shorter lag qualifies.
std::size_t shortestPeriod(const std::vector<float>& r, std::size_t best) {
    const double bestHeight = parabolaHeight(r, best);
    std::size_t firstNegative = 1;
    while (firstNegative < best && r[firstNegative] >= 0) {
        ++firstNegative;
    }
    for (std::size_t k = best / 2; k >= 2 && bestHeight > 0; --k) {
        const double centre = static_cast<double>(best) / static_cast<double>(k);
        const auto from = std::max(firstNegative + 1, static_cast<std::size_t>(centre) - 1);
        const auto to = std::min(best - 1, static_cast<std::size_t>(std::ceil(centre)) + 1);
        std::size_t period = 0;
        for (std::size_t lag = from; lag <= to; ++lag) {
            if (r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1] && (!period || r[lag] > r[period])) {
                period = lag;
            }
        }
        if (period && parabolaHeight(r, period) >= periodShare * bestHeight) {
            return period;
        }
    }
    return best;
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

    // The lags below the searched range serve only to find a period shorter than the best lag.
    std::vector<float> r(maxLag + 2, -std::numeric_limits<float>::infinity());
    for (std::size_t lag = 1; lag < minLag; ++lag) {
        r[lag] = dot(x.data(), x.data() + lag, n - lag);
    }
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
    // A period at or below the shortest searched lag is a fundamental above the searched range,
    // which the best lag only names a multiple of.
    const std::size_t period = shortestPeriod(r, best);
    if (period <= minLag) {
        return std::nullopt;
    }

    const float y0 = r[period - 1];
    const float y1 = r[period];
    const float y2 = r[period + 1];
    const float curvature = (y0 - (y1 + y1)) + y2;
    const float denominator = curvature + curvature;
    auto lag = static_cast<double>(period);
    if (std::fabs(denominator) > flatPeakCurvature) {
        lag += static_cast<double>((y0 - y2) / denominator);
    }
    return sampleRate / lag;
}

} // namespace zivra::tuner
