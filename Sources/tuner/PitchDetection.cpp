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
constexpr double flatPeakCurvature = 1e-9;
// A shorter lag inside the searched range is the period only when it repeats the signal nearly
// as well as the best lag (the key maximum of the established tuner methods): tones whose second
// or third harmonic is the strongest repeat at half or a third of their period almost as well.
constexpr double keyMaximumShare = 0.9;
// A lag at or below the shortest searched one that repeats the signal this well says that the
// fundamental lies above the searched range. Looser than the key maximum, since publishing
// nothing is never a wrong reading.
constexpr double aboveRangeShare = 0.7;
// What a lag leaves unrepeated is 1 - its clarity. At the true period that is noise and slow
// change (vibrato, a room, a swell), which leave a multiple of the period at least as much. At
// half the period of a tone whose odd partials are weak it is twice their share of the power on
// top, which a tone at twice the frequency does not have. So a multiple of a lag that leaves a
// sixth less unrepeated, beyond the interpolation's own error, is the period. That error is up
// to a hundredth, more for periods of a few samples whose harmonics reach near half the rate:
// (2 / period)^2 more covers those of 8 to 15 samples, which err by up to 0.035.
constexpr double residualRatio = 1.2;
constexpr double residualFloor = 0.01;
constexpr double shortPeriodError = 2;
// A period that repeats the signal less clearly than this names nothing: white noise peaks below
// 0.1, while a tone in white noise of its own power still reaches about 0.5.
constexpr double leastClarity = 0.4;
// The correlation is also taken an eighth past the longest searched lag, so that the peak of a
// fundamental just below the range is seen where it is rather than read at the longest lag.
constexpr std::size_t pastLongestShare = 8;

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
constexpr int sincTaps = 16;
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

// The period and how clearly it repeats the signal.
struct Period {
    std::size_t lag = 0;
    double clarity = 0;
};

// The pairs (x[i], x[i + lag]) that a clarity weighs: those whose first sample i runs from
// `first` up to but not including `last`, as far as the buffer reaches; all of them by default.
struct Pairs {
    std::size_t first = 0;
    std::size_t last = std::numeric_limits<std::size_t>::max();
};

// The normalised samples, their correlation at each lag and what it is measured against.
struct Correlation {
    std::vector<float> x;
    std::vector<float> r;
    // energy[i] is the sum of the squares of x[0] to x[i - 1].
    std::vector<double> energy;

    // The end of the pairs at a whole lag.
    std::size_t end(std::size_t lag, const Pairs& pairs) const {
        return std::max(pairs.first, std::min(pairs.last, x.size() - std::min(lag, x.size())));
    }

    // The correlation over the pairs at a whole lag, mirrored below 0.
    double correlation(long lag, const Pairs& pairs) const {
        const auto whole = static_cast<std::size_t>(std::labs(lag));
        if (pairs.first == 0 && pairs.last >= x.size()) {
            return correlationAt(x, r, lag);
        }
        const std::size_t last = end(whole, pairs);
        return last > pairs.first
                   ? dot(x.data() + pairs.first, x.data() + pairs.first + whole, last - pairs.first)
                   : 0;
    }

    // The energy of the overlapping samples of the pairs at a lag, counted on both sides: at most
    // twice their correlation.
    double overlapEnergy(double lag, const Pairs& pairs = {}) const {
        const auto whole = static_cast<std::size_t>(lag);
        const double fraction = lag - static_cast<double>(whole);
        const auto at = [this, &pairs](std::size_t k) {
            const std::size_t last = end(k, pairs);
            return last > pairs.first ? energy[last] - energy[pairs.first] + energy[last + k] -
                                            energy[pairs.first + k]
                                      : 0;
        };
        return whole + 1 < x.size() ? (1 - fraction) * at(whole) + fraction * at(whole + 1)
                                    : at(whole);
    }

    // The clarity at a whole lag of the list r (see clarity below).
    double clarityAt(std::size_t lag) const {
        return 2 * r[lag] / overlapEnergy(static_cast<double>(lag));
    }
};

// How clearly the signal repeats after `lag` within one lag of it, at its best, over the pairs:
// twice the correlation over the energy of the overlapping samples, 1 for a perfect repeat and
// close to it for a note that swells or dies away slowly. Between whole lags the correlation is
// interpolated: the correlation of a band-limited signal is band-limited too, so its whole lags
// hold a peak that they miss when the period is a few samples long and the harmonics reach near
// half the rate.
double clarity(const Correlation& c, std::size_t lag, const Pairs& pairs = {}) {
    const auto centre = static_cast<long>(lag);
    std::array<double, 2 * sincTaps + 2> around{};
    for (std::size_t i = 0; i < around.size(); ++i) {
        around[i] = c.correlation(centre - sincTaps + static_cast<long>(i), pairs);
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
        highest = std::max(highest, 2 * value / c.overlapEnergy(at, pairs));
    }
    return highest;
}

// Whether a longer lag repeats the signal clearly better than `shorter` does: what it leaves
// unrepeated (1 - its clarity) a sixth smaller, beyond the interpolation's error.
bool repeatsClearlyBetter(const Period& shorter, double longerClarity) {
    const double error =
        residualFloor + std::pow(shortPeriodError / static_cast<double>(shorter.lag), 2);
    return 1 - shorter.clarity > residualRatio * std::max(0.0, 1 - longerClarity) + error;
}

// The first lag whose correlation is negative, or 0 when none up to `maxLag` is. Up to there a
// smooth signal correlates highly without repeating, so no period counts there.
std::size_t firstNegativeLag(const std::vector<float>& r, std::size_t maxLag) {
    for (std::size_t lag = 1; lag <= maxLag; ++lag) {
        if (r[lag] < 0) {
            return lag;
        }
    }
    return 0;
}

// The first lag before `limit` at which the signal repeats less than half as clearly as at
// `best`, or `limit` when none does. A shorter lag past it has been through a dip and repeats the
// signal again, so it may be the period even though a slow drift (a decaying offset) keeps the
// correlation above zero until far past it. Noise lowers the clarity at every lag alike, so it
// makes no such dip.
std::size_t firstDip(const Correlation& c, std::size_t best, std::size_t limit) {
    const double dip = 0.5 * clarity(c, best);
    for (std::size_t lag = 1; lag < limit; ++lag) {
        if (c.clarityAt(lag) < dip) {
            return lag;
        }
    }
    return limit;
}

// The shortest lag that repeats the signal about as well as `best` does: a local maximum past
// `firstDip` near best / k (k = 2, 3, ...) that reaches keyMaximumShare of best's clarity,
// or aboveRangeShare of it at or below `minLag`. `best` itself when no shorter lag qualifies.
Period shortestPeriod(const Correlation& c, std::size_t best, std::size_t minLag,
                      std::size_t firstDip) {
    const double bestClarity = clarity(c, best);
    for (std::size_t k = best / 2; k >= 2 && bestClarity > 0; --k) {
        const double centre = static_cast<double>(best) / static_cast<double>(k);
        const auto from = std::max(firstDip + 1, static_cast<std::size_t>(centre) - 1);
        const auto to = std::min(best - 1, static_cast<std::size_t>(std::ceil(centre)) + 1);
        std::size_t lag = 0;
        for (std::size_t at = from; at <= to; ++at) {
            if (c.r[at] >= c.r[at - 1] && c.r[at] >= c.r[at + 1] && (!lag || c.r[at] > c.r[lag])) {
                lag = at;
            }
        }
        if (!lag) {
            continue;
        }
        const double share = lag <= minLag ? aboveRangeShare : keyMaximumShare;
        if (const double shorter = clarity(c, lag); shorter >= share * bestClarity) {
            return {lag, shorter};
        }
    }
    return {best, bestClarity};
}

// The multiple of `period` (twice or three times it) that repeats the signal clearly better, if
// one does: the whole lag at the correlation's highest beside m * period, with its clarity.
// Multiples are looked at past the searched lags too, while they leave at least one period of
// overlap. Near the buffer's edges the two lags weigh a sample unalike: one struck (a hammer, a
// pick, a breath) within m periods of the start has a partner m periods on only, but one or two
// a period off, so it counts against the period more often. So the period is also weighed over
// its pairs at least m - 1 periods from either edge, where no sample counts against it more
// often than against the multiple, and the multiple must repeat clearly better there too.
std::optional<Period> clearerMultiple(const Correlation& c, const Period& period) {
    for (const std::size_t m : {2, 3}) {
        std::size_t lag = m * period.lag;
        if (lag + period.lag + sincTaps >= c.x.size()) {
            break;
        }
        for (const std::size_t beside : {lag - 1, lag + 1}) {
            if (correlationAt(c.x, c.r, static_cast<long>(beside)) >
                correlationAt(c.x, c.r, static_cast<long>(lag))) {
                lag = beside;
            }
        }
        const double longer = clarity(c, lag);
        const Pairs inside{(m - 1) * period.lag, c.x.size() - lag};
        if (repeatsClearlyBetter(period, longer) &&
            repeatsClearlyBetter({period.lag, clarity(c, period.lag, inside)}, longer)) {
            return Period{lag, longer};
        }
    }
    return std::nullopt;
}

// Whether the fundamental lies below the searched range, of which `period` names only a partial:
// a lag past the range, down to `longLag`, repeats the signal clearly better than the period.
bool belowRange(const Correlation& c, const Period& period, std::size_t maxLag,
                std::size_t longLag) {
    double clearest = -1;
    for (std::size_t lag = maxLag + 1; lag <= longLag; ++lag) {
        clearest = std::max(clearest, c.clarityAt(lag));
    }
    return repeatsClearlyBetter(period, clearest);
}

} // namespace

std::optional<double> detectFrequency(std::span<const float> samples, double sampleRate) {
    const std::size_t n = samples.size();
    if (n == 0 || !std::isfinite(sampleRate) || !(sampleRate > 0)) {
        return std::nullopt;
    }
    Correlation c{std::vector<float>(n), {}, {}};
    if (!(normalize(samples, c.x) > silenceDeviation)) {
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

    // The lags below the searched range serve only to find a period shorter than the best lag,
    // those a little past it to see a peak there as such rather than as one at the longest lag.
    const std::size_t pastLag = std::min(n - 1, maxLag + maxLag / pastLongestShare);
    // Lags down to an octave below the range, while they overlap by half the buffer, tell a
    // fundamental below the range from one inside it.
    const std::size_t longLag = std::max(pastLag, std::min(2 * maxLag, n / 2));
    c.r.assign(longLag + 2, -std::numeric_limits<float>::infinity());
    for (std::size_t lag = 1; lag <= longLag; ++lag) {
        c.r[lag] = dot(c.x.data(), c.x.data() + lag, n - lag);
    }
    c.energy.resize(n + 1);
    for (std::size_t i = 0; i < n; ++i) {
        c.energy[i + 1] = c.energy[i] + static_cast<double>(c.x[i]) * c.x[i];
    }
    // Before the correlation first turns negative a smooth signal, a low tone's above all,
    // correlates most at the shortest lags without repeating there.
    const std::size_t firstNegative = firstNegativeLag(c.r, maxLag);
    if (firstNegative == 0 || firstNegative >= maxLag) {
        return std::nullopt;
    }
    std::size_t best = std::max(minLag, firstNegative);
    for (std::size_t lag = best + 1; lag <= pastLag; ++lag) {
        if (c.r[lag] > c.r[best]) {
            best = lag;
        }
    }
    if (best == minLag || best >= maxLag) {
        return std::nullopt;
    }
    // A period at or below the shortest searched lag is a fundamental above the searched range,
    // which the best lag only names a multiple of.
    Period period = shortestPeriod(c, best, minLag, firstDip(c, best, firstNegative));
    if (period.lag <= minLag) {
        return std::nullopt;
    }
    // A lag whose multiple repeats the signal clearly better is an octave or a twelfth above the
    // period; a period at or past the longest searched lag is a fundamental below the range.
    while (const std::optional<Period> longer = clearerMultiple(c, period)) {
        period = *longer;
    }
    if (period.lag >= maxLag || period.clarity < leastClarity ||
        belowRange(c, period, maxLag, longLag)) {
        return std::nullopt;
    }
    // The clarity peaks at the period where the correlation itself, summing fewer terms at longer
    // lags, peaks a little short of it: by a few cents for a low tone, and into the searched range
    // for a fundamental just below it.
    std::size_t peak = period.lag;
    while (peak < pastLag && c.clarityAt(peak + 1) > c.clarityAt(peak)) {
        ++peak;
    }
    while (peak > minLag && c.clarityAt(peak - 1) > c.clarityAt(peak)) {
        --peak;
    }
    if (peak <= minLag || peak >= maxLag) {
        return std::nullopt;
    }

    const double y0 = c.clarityAt(peak - 1);
    const double y1 = c.clarityAt(peak);
    const double y2 = c.clarityAt(peak + 1);
    const double curvature = (y0 - (y1 + y1)) + y2;
    auto lag = static_cast<double>(peak);
    if (std::fabs(curvature) > flatPeakCurvature) {
        lag += (y0 - y2) / (curvature + curvature);
    }
    return sampleRate / lag;
}

} // namespace zivra::tuner
