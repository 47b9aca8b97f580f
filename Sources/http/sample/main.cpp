// The sample site as a program:
//   vuzozar_sample DIRECTORY [PORT [ADDRESS]]
// serves DIRECTORY under "/public/" and the rest of the sample site on PORT
// (8080; 0 lets the system choose) of the IPv4 ADDRESS, prints "port N" once
// it listens, and runs until SIGTERM or SIGINT. ADDRESS is 127.0.0.1 unless
// given: the site's "/files/" browses the whole file system, so reaching it
// from other machines is asked for, never a default.
#include "http/Print.h"
#include "http/sample/DemoServer.h"

#include <pthread.h>

#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <string_view>
#include <thread>

namespace {

std::optional<uint16_t> portNumber(std::string_view text) {
    uint16_t port = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return port;
}

} // namespace

int main(int argc, char** argv) {
    std::optional<uint16_t> port = argc > 2 ? portNumber(argv[2]) : uint16_t(8080);
    if (argc < 2 || argc > 4 || !port) {
        std::fprintf(stderr, "usage: %s DIRECTORY [PORT [ADDRESS]]\n", argv[0]);
        return 2;
    }
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    // Blocked before any thread starts, so every thread leaves them to sigwait.
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    auto server = vuzozar::demoServer(argv[1]);
    server->listenAddressIPv4 = argc > 3 ? argv[3] : "127.0.0.1";
    try {
        server->start(*port, true, vuzozar::Priority::defaultPriority);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: cannot listen: %s\n", argv[0], error.what());
        return 1;
    }
    vuzozar::printLine("port " + std::to_string(server->port()));
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server->stop();
    // Connection threads hold the server until they have wound down.
    while (server.use_count() > 1) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}
