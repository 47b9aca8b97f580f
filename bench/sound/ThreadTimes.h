#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zivra::audio {

// The CPU time each thread of some processes has had so far, as the kernel
// counts it (/proc/PID/task/TID/schedstat), with the thread's name and
// scheduling. Any thread; throws only std::bad_alloc.
struct ThreadTime {
    pid_t process = 0;
    std::string name;
    bool realtime = false;
    int priority = 0; // the real-time priority, 0 for normal threads
    std::uint64_t ranNanoseconds = 0;
};
using ThreadTimes = std::map<pid_t, ThreadTime>; // by thread id

ThreadTimes threadTimes(const std::vector<pid_t>& processes);

// The threads that ran most between two snapshots, longest first, with the
// time each ran meanwhile.
std::vector<ThreadTime> ranMost(const ThreadTimes& before, const ThreadTimes& after,
                                std::size_t count);

} // namespace zivra::audio
