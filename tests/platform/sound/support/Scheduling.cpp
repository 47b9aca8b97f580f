#include "tests/platform/sound/support/Scheduling.h"

#include <pthread.h>
#include <sched.h>

#include <thread>

namespace zivra::platform::sound {

bool mayScheduleInRealTime() {
    bool allowed = false;
    std::thread([&allowed] {
        sched_param parameters{};
        parameters.sched_priority = 1;
        allowed = pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters) == 0;
    }).join();
    return allowed;
}

Scheduling currentScheduling() {
    sched_param parameters{};
    sched_getparam(0, &parameters);
    return {sched_getscheduler(0), parameters.sched_priority};
}

} // namespace zivra::platform::sound
