// zivra-tapguard: started by Zivra before it loads its tap, with standard
// input connected to a socket whose other end only Zivra holds. It waits for
// that end to close (Zivra ended, however) or for a request to stop
// (SIGTERM, SIGINT, SIGHUP), then gives each stream on the tap back to the
// sink it came from and removes the tap Zivra last told it of: the streams
// whose sink is gone return to the default sink. A tap never outlives both. Taps
// of another Zivra that still runs are left alone.
#include "platform/sound/PulseLoop.h"
#include "platform/sound/SoundError.h"
#include "platform/sound/TapGuardOrders.h"
#include "platform/sound/TapLock.h"
#include "platform/sound/TapModules.h"
#include "platform/sound/TapOwner.h"
#include "platform/sound/TapRoutesFile.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <optional>

namespace zivra::platform::sound {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onStop(int) {
    stopRequested = 1;
}

// Reads orders until Zivra's end of the socket closes or a stop is requested,
// and keeps the routes under the owner's name. The stop signals are let
// through only while the guard waits in ppoll(), so one that comes while an
// order is being read is not lost.
zivra::platform::sound::TapGuardOrders
readOrders(const std::optional<zivra::platform::sound::pulse::TapOwner>& owner) {
    sigset_t stops;
    sigemptyset(&stops);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&stops, signal);
        struct sigaction action = {};
        action.sa_handler = onStop;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
    sigset_t waiting;
    sigprocmask(SIG_BLOCK, &stops, &waiting);

    zivra::platform::sound::TapGuardOrders orders;
    char buffer[64];
    while (!stopRequested) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (ppoll(&input, 1, nullptr, &waiting) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        orders.read({buffer, static_cast<std::size_t>(count)});
        if (owner) {
            keepRoutes(*owner, orders.routes());
        }
    }
    return orders;
}

} // namespace

} // namespace zivra::platform::sound

int main() {
    using namespace zivra::platform::sound;
    using zivra::platform::sound::TapGuardOrders;
    // Its output is Zivra's, often a pipe that ends with Zivra: a line the
    // guard writes after that must not end it before the tap is removed.
    std::signal(SIGPIPE, SIG_IGN);
    // Zivra started the guard, so its parent is the tap's owner; asked before
    // Zivra may have ended.
    const auto owner = zivra::platform::sound::pulse::TapOwner::ofProcess(getppid());
    const TapGuardOrders orders = readOrders(owner);
    if (orders.undo() == TapGuardOrders::Undo::nothing) {
        return 0;
    }
    try {
        // However long the server takes to answer: Zivra hands its tap over
        // when the server does not answer it, and goes on.
        PulseLoop loop("zivra-tapguard", PulseLoop::Patience::untilAnswered);
        PulseLoop::Lock lock(loop);
        // One step: a tap Zivra makes meanwhile keeps its streams.
        const TapLock oneAtATime;
        if (orders.undo() == TapGuardOrders::Undo::module) {
            pulse::returnStreams(loop, orders.routes(), owner, orders.module());
            pulse::removeTapModule(loop, orders.module(), owner);
        } else {
            pulse::returnStreams(loop, orders.routes(), owner);
            pulse::removeTapModules(loop, owner);
        }
        if (owner) {
            forgetRoutes(*owner);
        }
    } catch (const zivra::platform::sound::SoundError& error) {
        std::fprintf(stderr, "zivra-tapguard: could not remove Zivra's tap: %s\n", error.what());
        return 1;
    }
    return 0;
}
