#pragma once

#include <cstdint>
#include <functional>

namespace vuzozar {

class Process {
public:
    static int pid();

    // The calling thread's system-wide thread identifier.
    static uint64_t tid();

    // Calls `watcher` with the signal number whenever SIGTERM, SIGHUP or
    // SIGINT arrives (SIGSTOP is asked for too, but cannot be caught). Meant
    // for start-up; the watchers run in signal context.
    static void watchSignals(std::function<void(int32_t)> watcher);
};

} // namespace vuzozar
