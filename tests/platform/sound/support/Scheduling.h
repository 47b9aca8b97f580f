#pragma once

// How the threads of the test process are scheduled.
namespace zivra::platform::sound {

// Whether this process may put a thread in real time by itself (as root, or
// within its real-time priority limit). Any thread; throws nothing.
bool mayScheduleInRealTime();

// The calling thread's policy (as sched_getscheduler reports it, flags
// included) and priority.
struct Scheduling {
    int policy = -1;
    int priority = -1;
};
Scheduling currentScheduling();

} // namespace zivra::platform::sound
