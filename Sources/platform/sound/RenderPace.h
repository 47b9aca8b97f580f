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

    // Room, beyond the stream's own buffer, for the jitter of a busy machine,
    // a few times over; a request beyond both only follows a stall.
    static constexpr double reserveSeconds = 0.1;

    explicit RenderPace(double sampleRate)
        : rate_(sampleRate), margin_(sampleRate * reserveSeconds), credit_(margin_) {}

    // How many of `frames` asked for at `now` may be rendered, for a stream
    // whose server-side buffer holds `bufferFrames`: in a steady state the
    // server asks for up to that much at a time (a whole quantum of 8192
    // frames, where it is forced to), which is always granted whole.
    std::uint32_t grant(std::uint32_t frames, Clock::time_point now, std::uint32_t bufferFrames) {
        const std::chrono::duration<double> elapsed = now - last_;
        const double reserve = margin_ + bufferFrames;
        credit_ = std::min(reserve, credit_ + std::max(elapsed.count(), 0.0) * rate_);
        last_ = now;
        // A buffer that grew since the last request (the server raised its
        // quantum) is granted at once rather than cut while the credit builds.
        if (bufferFrames > lastBuffer_) {
            credit_ = std::min(reserve, credit_ + (bufferFrames - lastBuffer_));
        }
        lastBuffer_ = bufferFrames;
        const auto granted = static_cast<std::uint32_t>(std::min<double>(frames, credit_));
        credit_ -= granted;
        return granted;
    }

private:
    double rate_;
    double margin_;
    double credit_; // frames that may be rendered now
    std::uint32_t lastBuffer_ = 0;
    Clock::time_point last_{};
};

} // namespace zivra::platform::sound
