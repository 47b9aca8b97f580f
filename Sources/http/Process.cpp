#include "http/Process.h"

#include <unistd.h>

#include <csignal>
#include <vector>

namespace vuzozar {

namespace {

bool signalsWatched = false;
std::vector<std::function<void(int32_t)>> signalWatchers;

void callWatchers(int signal) {
    for (auto& watcher : signalWatchers) {
        watcher(signal);
    }
}

} // namespace

int Process::pid() {
    return getpid();
}

uint64_t Process::tid() {
    return static_cast<uint64_t>(gettid());
}

void Process::watchSignals(std::function<void(int32_t)> watcher) {
    if (!signalsWatched) {
        for (int signal : {SIGTERM, SIGHUP, SIGSTOP, SIGINT}) {
            std::signal(signal, callWatchers);
        }
        signalsWatched = true;
    }
    signalWatchers.push_back(std::move(watcher));
}

} // namespace vuzozar
