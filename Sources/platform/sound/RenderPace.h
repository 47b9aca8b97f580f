#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace zivra::platform::sound {

// Keeps the render thread from producing sound faster than it is played.
// After a stall (the sound server stopped, the machine short of memory) the
// server may ask for seconds of audio at once: shifting all of it would keep
// a real-time thread busy past its time limit, for sound that is stale by
// then. The pace grants frames as the clock advances, up to a reserve ahead
// of it; what a request asks beyond that is answered with silence. Owned by
// the render graph; render thread only; throws nothing.
class RenderPace {
public:
    using Clock = std::chrono::steady_clock;

    // Room for the first requests of a stream and for the jitter of a busy
    // machine, a few times over; a request beyond it only follows a stall.
    static constexpr double reserveSeconds = 0.1;

    explicit RenderPace(double sampleRate)
        : rate_(sampleRate), reserve_(sampleRate * reserveSeconds), credit_(reserve_) {}

    // How many of `frames` asked for at `now` may be rendered.
    std::uint32_t grant(std::uint32_t frames, Clock::time_point now) {
        const std::chrono::duration<double> elapsed = now - last_;
        credit_ = std::min(reserve_, credit_ + std::max(elapsed.count(), 0.0) * rate_);
        last_ = now;
        const auto granted = static_cast<std::uint32_t>(std::min<double>(frames, credit_));
        credit_ -= granted;
        return granted;
    }

private:
    double rate_;
    double reserve_;
    double credit_; // frames that may be rendered now
    Clock::time_point last_{};
};

} // namespace zivra::platform::sound
