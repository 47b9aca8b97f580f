#pragma once

#include <cstdint>
#include <functional>

namespace vuzozar {

// The process's own identity and its termination signals.
class Process {
public:
    // Any thread; throws nothing.
    static int pid();

    // The calling thread's system-wide thread identifier.
    static uint64_t tid();

    // Calls `watcher` with the signal number whenever SIGTERM, SIGHUP or
    // SIGINT arrives (SIGSTOP is asked for too, but cannot be caught). Meant
    // for start-up, on one thread before any signal can arrive: the list is
    // unguarded. The watchers are kept for the life of the process and run in
    // signal context, so they must not throw. Throws only std::bad_alloc.
    static void watchSignals(std::function<void(int32_t)> watcher);
};

} // namespace vuzozar
