#pragma once

#include "http/HttpServer.h"
#include "http/Print.h"

#include <pthread.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <thread>

namespace vuzozar {

// Blocks SIGTERM and SIGINT on the calling thread, so that every thread
// started afterwards leaves them to sigwait; returns the set. Call it first
// in main().
inline sigset_t blockStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return stopSignals;
}

// Starts the server on a port of 127.0.0.1 the system picks, prints
// "port N", serves until SIGTERM or SIGINT, then stops it, waits for its
// connection threads to let go and prints "stopped".
inline void serveUntilSignal(const std::shared_ptr<vuzozar::HttpServer>& server,
                             const sigset_t& stopSignals) {
    server->start(0, true, vuzozar::Priority::defaultPriority);
    vuzozar::printLine("port " + std::to_string(server->port()));
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server->stop();
    // Connection threads hold the server until they have wound down; let
    // them finish before the process tears down what they use.
    while (server.use_count() > 1) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    vuzozar::printLine("stopped");
}

} // namespace vuzozar
