#include "tests/platform/sound/support/ToneAnalysis.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zivra::platform::sound {
namespace {

double amplitude(const std::vector<float>& samples, double rate, double frequency) {
    const std::size_t n = samples.size();
    if (n < 2) {
        return 0;
    }
    const double omega = 2 * std::numbers::pi * frequency / rate;
    const double coefficient = 2 * std::cos(omega);
    double s1 = 0, s2 = 0, windowSum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double window =
            0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / (n - 1));
        windowSum += window;
        const double s0 = samples[i] * window + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2 * std::sqrt(std::max(power, 0.0)) / windowSum;
}

double toDb(double value) {
    return 20 * std::log10(std::max(value, 1e-12));
}

} // namespace

std::vector<float> channel(const std::vector<float>& interleaved, int index) {
    std::vector<float> out(interleaved.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = interleaved[2 * i + index];
    }
    return out;
}

std::vector<float> mid(const std::vector<float>& interleaved) {
    std::vector<float> out(interleaved.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = (interleaved[2 * i] + interleaved[2 * i + 1]) / 2;
    }
    return out;
}

std::vector<float> side(const std::vector<float>& interleaved) {
    std::vector<float> out(interleaved.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = (interleaved[2 * i] - interleaved[2 * i + 1]) / 2;
    }
    return out;
}

std::vector<float> tail(const std::vector<float>& samples, std::size_t frames) {
    if (samples.size() <= frames) {
        return samples;
    }
    return std::vector<float>(samples.end() - static_cast<std::ptrdiff_t>(frames), samples.end());
}

double levelDb(const std::vector<float>& samples, double rate, double frequency) {
    return toDb(amplitude(samples, rate, frequency));
}

double peakFrequency(const std::vector<float>& samples, double rate, double low, double high) {
    double best = low, bestAmplitude = -1;
    for (double f = low; f <= high; f *= std::exp2(1.0 / 1200)) {
        const double a = amplitude(samples, rate, f);
        if (a > bestAmplitude) {
            bestAmplitude = a;
            best = f;
        }
    }
    return best;
}

double centsBetween(double a, double b) {
    return 1200 * std::log2(a / b);
}

double rmsDb(const std::vector<float>& samples) {
    double sum = 0;
    for (float s : samples) {
        sum += double{s} * s;
    }
    return toDb(std::sqrt(sum / std::max<std::size_t>(samples.size(), 1)));
}

} // namespace zivra::platform::sound
