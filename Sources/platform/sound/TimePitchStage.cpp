#include "platform/sound/TimePitchStage.h"

#include <algorithm>
#include <cmath>

namespace zivra::platform::sound {
namespace {

constexpr float centsLimit = 2400.0f;
// Blocks of silence shifted at each limit before the stage is used.
constexpr int warmUpBlocks = 4;
// Beyond its start delay the stretcher holds up to about this many frames.
constexpr std::uint32_t heldBeyondDelay = 2048;

} // namespace

TimePitchStage::TimePitchStage(double sampleRate, std::uint32_t maxBlockFrames)
    : stretcher_(static_cast<std::size_t>(sampleRate), 2, options, 1.0, 1.0) {
    stretcher_.setMaxProcessSize(maxBlockFrames);

    for (auto& channel : fifo_) {
        channel.assign(fifoFrames, 0.0f);
    }
    for (auto& channel : scratch_) {
        channel.assign(fifoFrames, 0.0f);
    }
    silence_.assign(maxBlockFrames, 0.0f);

    // Rubber Band sizes its resampler the first time it shifts, and grows it
    // for wider shifts in each of the two states it alternates between.
    // Shifting silence to each limit twice here leaves the render thread
    // nothing to allocate. A reset() would free it all again, so the stage
    // never resets the stretcher.
    for (const float cents : {centsLimit, -centsLimit, centsLimit, -centsLimit}) {
        stretcher_.setPitchScale(ratioForCents(cents));
        for (int block = 0; block < warmUpBlocks; ++block) {
            feedSilence();
        }
    }
    stretcher_.setPitchScale(ratioForCents(cents_));
}

double TimePitchStage::ratioForCents(float cents) {
    if (!std::isfinite(cents)) {
        cents = 0.0f;
    }
    return std::exp2(std::clamp(cents, -centsLimit, centsLimit) / 1200.0);
}

void TimePitchStage::setPitch(float cents) {
    pendingCents_.store(cents, std::memory_order_release);
}

void TimePitchStage::setBypass(bool bypass) {
    pendingBypass_.store(bypass, std::memory_order_release);
}

bool TimePitchStage::beginBlock() {
    const bool bypass = pendingBypass_.load(std::memory_order_acquire);
    if (bypass != bypass_) {
        // What was buffered belongs to the other path; switching starts afresh.
        bypass_ = bypass;
        fifoStart_ = fifoFill_ = 0;
        if (bypass_) {
            // The sound the stretcher still holds must not come out when
            // shifting resumes: while bypassed it is flushed with silence, a
            // block per cycle.
            flushFrames_ =
                2 * static_cast<std::uint32_t>(stretcher_.getStartDelay()) + heldBeyondDelay;
        } else {
            flushFrames_ = 0;
            started_ = false;
        }
    }
    const float cents = pendingCents_.load(std::memory_order_acquire);
    if (cents != cents_) {
        cents_ = cents;
        stretcher_.setPitchScale(ratioForCents(cents));
    }
    if (bypass_ && flushFrames_ > 0) {
        feedSilence();
        flushFrames_ -= std::min(flushFrames_, static_cast<std::uint32_t>(silence_.size()));
    }
    return bypass_;
}

void TimePitchStage::feedSilence() {
    const float* input[2] = {silence_.data(), silence_.data()};
    float* scratch[2] = {scratch_[0].data(), scratch_[1].data()};
    stretcher_.process(input, silence_.size(), false);
    for (int available = stretcher_.available(); available > 0;
         available = stretcher_.available()) {
        stretcher_.retrieve(scratch,
                            std::min<std::size_t>(static_cast<std::size_t>(available), fifoFrames));
    }
}

void TimePitchStage::process(const float* const* input, std::uint32_t frames) {
    if (!started_) {
        // The stretcher's start delay is dropped as it comes out, taken with
        // the pitch of the first block (it depends on it), and so is any
        // output still waiting from before.
        discard_ = static_cast<std::uint32_t>(stretcher_.getStartDelay()) +
                   static_cast<std::uint32_t>(std::max(stretcher_.available(), 0));
        started_ = true;
    }
    stretcher_.process(input, frames, false);
    collect();
}

void TimePitchStage::collect() {
    for (;;) {
        const int available = stretcher_.available();
        const std::uint32_t room = fifoFrames - fifoFill_;
        if (available <= 0 || room == 0) {
            return;
        }
        const auto n = std::min<std::uint32_t>(static_cast<std::uint32_t>(available), room);
        float* scratch[2] = {scratch_[0].data(), scratch_[1].data()};
        const auto got = static_cast<std::uint32_t>(stretcher_.retrieve(scratch, n));
        // The stretcher's output starts with its own delay; dropping it keeps
        // the shifted sound as close behind its input as the stretcher allows.
        const std::uint32_t skip = std::min(got, discard_);
        discard_ -= skip;
        for (std::uint32_t i = skip; i < got; ++i) {
            const std::uint32_t at = (fifoStart_ + fifoFill_ + i - skip) % fifoFrames;
            fifo_[0][at] = scratch_[0][i];
            fifo_[1][at] = scratch_[1][i];
        }
        fifoFill_ += got - skip;
        if (got == 0) {
            return;
        }
    }
}

std::uint32_t TimePitchStage::read(float* const* output, std::uint32_t frames) {
    const std::uint32_t n = std::min(frames, fifoFill_);
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t at = (fifoStart_ + i) % fifoFrames;
        output[0][i] = fifo_[0][at];
        output[1][i] = fifo_[1][at];
    }
    fifoStart_ = (fifoStart_ + n) % fifoFrames;
    fifoFill_ -= n;
    collect();
    return n;
}

} // namespace zivra::platform::sound
