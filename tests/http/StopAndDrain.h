#pragma once

#include "http/HttpServerIO.h"

#include <chrono>
#include <memory>
#include <thread>

namespace vuzozar {

// Stops the server and waits until its accept and connection threads have
// let go of it, so that no callback of a finished test runs on.
template <class Server> void stopAndDrain(std::shared_ptr<Server> server) {
    server->stop();
    while (server.use_count() > 2) { // this copy and the caller's
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace vuzozar
