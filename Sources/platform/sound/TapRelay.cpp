#include "platform/sound/TapRelay.h"

#include "platform/sound/RealtimeScheduling.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>

namespace zivra::platform::sound {
namespace {

// Room for about a second of audio at 48 kHz, so a slow tap block loses nothing.
constexpr std::size_t ringFrames = 65536;
// The largest block the render thread hands over in one push.
constexpr std::size_t stagingFrames = 4096;

} // namespace

TapRelay::TapRelay(double sampleRate)
    : sampleRate_(sampleRate), ring_(ringFrames * 2), staging_(stagingFrames * 2) {}

TapRelay::~TapRelay() {
    remove();
}

void TapRelay::install(std::uint32_t bufferFrames, TapBlock block) {
    remove();
    bufferFrames_ = std::max<std::uint32_t>(bufferFrames, 1);
    interleaved_.assign(std::size_t{bufferFrames_} * 2, 0.0f);
    channels_[0].assign(bufferFrames_, 0.0f);
    channels_[1].assign(bufferFrames_, 0.0f);
    block_ = std::move(block);
    ring_.clear();
    stopping_ = false;
    threadId_ = 0;
    thread_ = std::thread([this] { run(); });
    threadId_.wait(0);
    requestRealtime(threadId_.load(), tapThreadPriority);
    active_ = true;
}

void TapRelay::remove() {
    active_ = false;
    if (!thread_.joinable()) {
        return;
    }
    stopping_ = true;
    wake_.release();
    thread_.join();
    block_ = nullptr;
}

void TapRelay::push(const float* left, const float* right, std::uint32_t frames) {
    if (!active_.load(std::memory_order_acquire)) {
        return;
    }
    while (frames > 0) {
        const std::uint32_t n = std::min<std::uint32_t>(frames, stagingFrames);
        for (std::uint32_t i = 0; i < n; ++i) {
            staging_[2 * i] = left[i];
            staging_[2 * i + 1] = right[i];
        }
        ring_.push(std::span<const float>(staging_.data(), std::size_t{n} * 2));
        left += n;
        right += n;
        frames -= n;
    }
    wake_.release();
}

void TapRelay::run() {
    pthread_setname_np(pthread_self(), "zivra.tap");
    threadId_.store(gettid());
    threadId_.notify_all();
    const float* channels[2] = {channels_[0].data(), channels_[1].data()};
    const PcmBufferView view{channels, 2, bufferFrames_, sampleRate_};
    for (;;) {
        wake_.acquire();
        if (stopping_) {
            return;
        }
        while (ring_.pop(interleaved_)) {
            for (std::uint32_t i = 0; i < bufferFrames_; ++i) {
                channels_[0][i] = interleaved_[2 * i];
                channels_[1][i] = interleaved_[2 * i + 1];
            }
            block_(view);
            if (stopping_) {
                return;
            }
        }
    }
}

} // namespace zivra::platform::sound
