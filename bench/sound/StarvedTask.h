#pragma once

#include <atomic>
#include <chrono>
#include <thread>

namespace zivra::audio {

// A task of normal priority on one core that wakes every millisecond, as a
// desktop's housekeeping does, and keeps the longest time it was due to run
// and did not: what real-time threads sharing the core took from it. Its
// nice level is the highest where the process may set it (as root), so that
// other programs of normal priority on the core delay it little. Owned by
// its creator; the thread runs until the object goes. Throws std::system_error
// when the thread cannot start.
class StarvedTask {
public:
    explicit StarvedTask(int core);
    ~StarvedTask();
    StarvedTask(const StarvedTask&) = delete;
    StarvedTask& operator=(const StarvedTask&) = delete;

    // The longest wait for the core since the last call (or the start), and
    // a new count from now. Any thread.
    std::chrono::microseconds takeLongestWait();

private:
    void run(int core);

    std::atomic<bool> stopping_{false};
    std::atomic<long long> longestNanoseconds_{0};
    std::thread thread_;
};

} // namespace zivra::audio
