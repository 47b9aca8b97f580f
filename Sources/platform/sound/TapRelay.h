#pragma once

#include "platform/sound/OutputGraph.h"
#include "platform/sound/SpscRing.h"

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <semaphore>
#include <thread>
#include <vector>

namespace zivra::platform::sound {

// Carries the stream mixer's output from the render thread to the tap thread.
// The render thread only copies frames into a lock-free ring and wakes the tap
// thread; the tap block runs there, in blocks of the installed size. Owned by
// the render graph; the relay keeps the block until remove(). The constructor
// and install() throw std::bad_alloc or std::system_error (no thread);
// remove() and push() throw nothing.
class TapRelay {
public:
    explicit TapRelay(double sampleRate);
    ~TapRelay();
    TapRelay(const TapRelay&) = delete;
    TapRelay& operator=(const TapRelay&) = delete;

    // Main thread: starts the tap thread with the block, replacing a running
    // one, and asks for real-time scheduling for it (requestRealtime).
    void install(std::uint32_t bufferFrames, TapBlock block);
    // Main thread: stops the tap thread; the block is not called afterwards.
    void remove();

    // Render thread: hands over frames of the two channels. Frames that do not
    // fit (the tap thread is behind) are dropped; nothing waits.
    void push(const float* left, const float* right, std::uint32_t frames);

private:
    void run();

    double sampleRate_;
    SpscRing<float> ring_;           // interleaved stereo
    std::vector<float> staging_;     // render side: one interleaved block
    std::vector<float> interleaved_; // tap side
    std::vector<float> channels_[2]; // tap side
    std::uint32_t bufferFrames_ = 0;
    TapBlock block_;
    std::atomic<bool> active_{false};
    std::atomic<bool> stopping_{false};
    std::counting_semaphore<> wake_{0};
    std::atomic<pid_t> threadId_{0}; // the tap thread's kernel id, once it runs
    std::thread thread_;
};

} // namespace zivra::platform::sound
