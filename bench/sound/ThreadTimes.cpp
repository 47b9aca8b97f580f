#include "bench/sound/ThreadTimes.h"

#include <dirent.h>
#include <sched.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

namespace zivra::audio {
namespace {

struct CloseDirectory {
    void operator()(DIR* directory) const { closedir(directory); }
};

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

} // namespace

ThreadTimes threadTimes(const std::vector<pid_t>& processes) {
    ThreadTimes times;
    for (const pid_t process : processes) {
        const std::string tasks = "/proc/" + std::to_string(process) + "/task";
        const std::unique_ptr<DIR, CloseDirectory> directory(opendir(tasks.c_str()));
        if (!directory) {
            continue;
        }
        while (const dirent* entry = readdir(directory.get())) {
            const pid_t thread = std::atoi(entry->d_name);
            if (thread <= 0) {
                continue;
            }
            const std::string task = tasks + "/" + entry->d_name;
            ThreadTime time{process, firstLine(task + "/comm")};
            std::istringstream(firstLine(task + "/schedstat")) >> time.ranNanoseconds;
            sched_param parameters{};
            const int policy = sched_getscheduler(thread) & ~SCHED_RESET_ON_FORK;
            time.realtime = policy == SCHED_FIFO || policy == SCHED_RR;
            if (time.realtime && sched_getparam(thread, &parameters) == 0) {
                time.priority = parameters.sched_priority;
            }
            times[thread] = time;
        }
    }
    return times;
}

std::vector<ThreadTime> ranMost(const ThreadTimes& before, const ThreadTimes& after,
                                std::size_t count) {
    std::vector<ThreadTime> ran;
    for (const auto& [thread, time] : after) {
        ThreadTime meanwhile = time;
        if (const auto earlier = before.find(thread); earlier != before.end()) {
            meanwhile.ranNanoseconds -=
                std::min(time.ranNanoseconds, earlier->second.ranNanoseconds);
        }
        ran.push_back(meanwhile);
    }
    std::sort(ran.begin(), ran.end(), [](const ThreadTime& a, const ThreadTime& b) {
        return a.ranNanoseconds > b.ranNanoseconds;
    });
    ran.resize(std::min(ran.size(), count));
    return ran;
}

} // namespace zivra::audio
