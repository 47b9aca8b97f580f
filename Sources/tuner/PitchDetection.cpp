#include "tuner/PitchDetection.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <vector>

namespace zivra::tuner {
namespace {

constexpr double highestFrequency = 2500;
constexpr double lowestFrequency = 60;
constexpr float silenceDeviation = 1e-6f;
constexpr float flatPeakCurvature = 1e-9f;
// A shorter lag inside the searched range is the period only when it repeats the signal nearly
// as well as the best lag (the key maximum of the established tuner methods). Tones whose second
// or third harmonic is the strongest repeat at half or a third of their period up to 0.89 as
// well; a true period whose multiple is the best lag reaches 0.99 of it, 0.93 in noise of 0 dB.
constexpr double keyMaximumShare = 0.9;
// A lag at or below the shortest searched one that repeats the signal this well says that the
// fundamental lies above the searched range: such periods reach at least 0.82 of the best lag.
// Looser than the key maximum, since publishing nothing is never a wrong reading.
constexpr double aboveRangeShare = 0.7;

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

// The whole lags on each side of a point that the interpolation between them weighs, and the
// steps into which it divides one lag.
constexpr int sincTaps = 8;
constexpr int stepsPerLag = 10;
using SincWeights = std::array<std::array<double, 2 * sincTaps>, stepsPerLag>;

// The weights of a Hann-windowed sinc: row f for the point f / stepsPerLag past a whole lag,
// column j for the whole lag j - sincTaps + 1 from it. Built once, shared read-only.
const SincWeights& sincWeights() {
    static const SincWeights weights = [] {
        SincWeights table{};
        for (int f = 0; f < stepsPerLag; ++f) {
            for (int j = 0; j < 2 * sincTaps; ++j) {
                const double d = static_cast<double>(f) / stepsPerLag + sincTaps - 1 - j;
                const double sinc =
                    d == 0 ? 1 : std::sin(std::numbers::pi * d) / (std::numbers::pi * d);
                table[f][j] = sinc * (0.5 + 0.5 * std::cos(std::numbers::pi * d / sincTaps));
            }
        }
        return table;
    }();
    return weights;
}

// The correlation of the n normalised samples x at a whole lag: n at lag 0, mirrored below it,
// the list r inside its range, and past that range summed here (nothing past the buffer).
double correlationAt(const std::vector<float>& x, const std::vector<float>& r, long lag) {
    const auto whole = static_cast<std::size_t>(std::labs(lag));
    if (whole == 0) {
        return static_cast<double>(x.size());
    }
    if (whole < r.size() - 1) {
        return r[whole];
    }
    return whole < x.size() ? dot(x.data(), x.data() + whole, x.size() - whole) : 0;
}

// The highest correlation per overlapping sample within one lag of `lag`. Between whole lags it
// is interpolated: the correlation of a band-limited signal is band-limited too, so its whole
// lags hold a peak that they miss when the period is a few samples long and the harmonics reach
// near half the rate. Per overlapping sample, because a shorter lag sums more terms, which
// alone would lift it by up to a fifth against the longest.
double peakScore(const std::vector<float>& x, const std::vector<float>& r, std::size_t lag) {
    const auto centre = static_cast<long>(lag);
    std::array<double, 2 * sincTaps + 2> around{};
    for (std::size_t i = 0; i < around.size(); ++i) {
        around[i] = correlationAt(x, r, centre - sincTaps + static_cast<long>(i));
    }
    const SincWeights& weights = sincWeights();
    double highest = -std::numeric_limits<double>::infinity();
    for (int step = -stepsPerLag; step <= stepsPerLag; ++step) {
        // The whole lag at or below the point, as an index into `around`, and the step past it.
        const int below = step < 0 ? 0 : 1 + (step == stepsPerLag);
        const int fraction = step < 0 ? step + stepsPerLag : step - (below - 1) * stepsPerLag;
        double value = 0;
        for (int j = 0; j < 2 * sincTaps; ++j) {
            value += weights[fraction][j] * around[below + j];
        }
        const double at = static_cast<double>(lag) + static_cast<double>(step) / stepsPerLag;
        highest = std::max(highest, value / (static_cast<double>(x.size()) - at));
    }
    return highest;
}

// The first lag whose correlation is negative, or `best` when none before it is. Up to there a
// smooth signal correlates highly without repeating, so no period counts there.
std::size_t firstNegativeLag(const std::vector<float>& r, std::size_t best) {
    std::size_t lag = 1;
    while (lag < best && r[lag] >= 0) {
        ++lag;
    }
    return lag;
}

// The shortest lag that repeats the normalised samples x about as well as `best` does: a local
// maximum past `firstNegative` near best / k (k = 2, 3, ...) that reaches keyMaximumShare of
// best's score, or aboveRangeShare of it at or below `minLag`. `best` itself when no shorter lag
// qualifies.
std::size_t shortestPeriod(const std::vector<float>& x, const std::vector<float>& r,
                           std::size_t best, std::size_t minLag, std::size_t firstNegative) {
    const double bestScore = peakScore(x, r, best);
    for (std::size_t k = best / 2; k >= 2 && bestScore > 0; --k) {
        const double centre = static_cast<double>(best) / static_cast<double>(k);
        const auto from = std::max(firstNegative + 1, static_cast<std::size_t>(centre) - 1);
        const auto to = std::min(best - 1, static_cast<std::size_t>(std::ceil(centre)) + 1);
        std::size_t period = 0;
        for (std::size_t lag = from; lag <= to; ++lag) {
            if (r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1] && (!period || r[lag] > r[period])) {
                period = lag;
            }
        }
        const double share = period <= minLag ? aboveRangeShare : keyMaximumShare;
        if (period && peakScore(x, r, period) >= share * bestScore) {
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
    // Noise beside the shortest lag can top a low tone's slowly falling correlation there.
    const std::size_t firstNegative = firstNegativeLag(r, best);
    if (best <= firstNegative) {
        return std::nullopt;
    }
    // A period at or below the shortest searched lag is a fundamental above the searched range,
    // which the best lag only names a multiple of.
    const std::size_t period = shortestPeriod(x, r, best, minLag, firstNegative);
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
