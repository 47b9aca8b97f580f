#include "bench/sound/StarvedTask.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <ctime>

namespace zivra::audio {
namespace {

constexpr long long period = 1000000; // nanoseconds

long long now() {
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return time.tv_sec * 1000000000LL + time.tv_nsec;
}

} // namespace

StarvedTask::StarvedTask(int core) : thread_([this, core] { run(core); }) {}

StarvedTask::~StarvedTask() {
    stopping_ = true;
    thread_.join();
}

std::chrono::microseconds StarvedTask::takeLongestWait() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::nanoseconds(longestNanoseconds_.exchange(0)));
}

void StarvedTask::run(int core) {
    pthread_setname_np(pthread_self(), "zivra.starved");
    cpu_set_t cores;
    CPU_ZERO(&cores);
    CPU_SET(core, &cores);
    sched_setaffinity(0, sizeof cores, &cores);
    // Weighed far above the machine's other programs of normal priority, so
    // that what it waits for is real-time threads, not a busy neighbour.
    setpriority(PRIO_PROCESS, 0, -20);
    const timespec sleep{0, period};
    while (!stopping_) {
        const long long due = now() + period;
        clock_nanosleep(CLOCK_MONOTONIC, 0, &sleep, nullptr);
        // How long after its sleep ended the task got the core again.
        const long long late = now() - due;
        long long longest = longestNanoseconds_.load();
        while (late > longest && !longestNanoseconds_.compare_exchange_weak(longest, late)) {
        }
    }
}

} // namespace zivra::audio
