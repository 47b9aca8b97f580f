// zivra-tapguard PROCESS_ID START_TIME TAP_SERIAL: started by Zivra before it
// loads its tap, with standard input connected to a socket whose other end
// only Zivra holds, and the tap's identity (TapIdentity: Zivra's process id
// and start time, and the number it gives the tap). It waits for that end to
// close (Zivra ended, however, or handed the tap over) or for a request to
// stop (SIGTERM, SIGINT, SIGHUP), then gives each stream on the tap back to
// the sink it came from and removes the tap: the streams whose sink is gone
// return to the default sink. A tap never outlives both. Other taps, also
// later ones of the same Zivra, are left alone. A server that does not answer
// is waited for however long it stays silent; one that is gone took the tap
// with it.
#include "platform/sound/PulseLoop.h"
#include "platform/sound/PulseProperties.h"
#include "platform/sound/ServerSocket.h"
#include "platform/sound/SoundError.h"
#include "platform/sound/TapGuardOrders.h"
#include "platform/sound/TapLock.h"
#include "platform/sound/TapModules.h"
#include "platform/sound/TapOwner.h"
#include "platform/sound/TapRoutesFile.h"

#include <pulse/error.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <thread>
#include <utility>

namespace zivra::platform::sound {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onStop(int) {
    stopRequested = 1;
}

// Reads orders until Zivra's end of the socket closes or a stop is requested.
// The stop signals are let through only while the guard waits in ppoll(), so
// one that comes while an order is being read is not lost.
zivra::platform::sound::TapGuardOrders readOrders() {
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
    }
    return orders;
}

// One try on a connection: the streams back, then the tap removed. False
// when a request went unanswered (libpulse gives one up after about 30 s).
bool giveBack(PulseLoop& loop, const TapGuardOrders& orders,
              const std::optional<pulse::TapIdentity>& tap) {
    // One step: a tap Zivra makes meanwhile keeps its streams.
    const TapLock oneAtATime;
    if (!tap) {
        // Started without its tap's identity: every tap left behind goes, as
        // at a start.
        return pulse::removeTapModules(loop).answered;
    }
    return pulse::returnStreams(loop, orders.routes(), *tap) && pulse::removeTap(loop, *tap);
}

// Whether the server that holds the tap may still answer: it was silent, or
// the connection ended during the work (the next try tells whether a server
// is there, and a server that restarted holds no tap), or it refused while
// it still listens: a stopped server keeps the handshakes libpulse gave up
// on in its listen queue, which a long stop fills.
bool mayStillAnswer(int error) {
    return error == PA_ERR_TIMEOUT || error == PA_ERR_CONNECTIONTERMINATED ||
           (error == PA_ERR_CONNECTIONREFUSED && serverListens());
}

constexpr std::chrono::seconds pauseBetweenTries{1};

} // namespace

} // namespace zivra::platform::sound

int main(int argc, char** argv) {
    using namespace zivra::platform::sound;
    // Its output is Zivra's, often a pipe that ends with Zivra: a line the
    // guard writes after that must not end it before the tap is removed.
    std::signal(SIGPIPE, SIG_IGN);
    std::optional<pulse::TapIdentity> tap;
    if (argc == 4) {
        const auto processId = pulse::wholeNumber(argv[1]);
        const auto startTime = pulse::wholeNumber(argv[2]);
        const auto serial = pulse::wholeNumber(argv[3]);
        if (processId && startTime && serial) {
            tap = pulse::TapIdentity{pulse::TapOwner{static_cast<long>(*processId), *startTime},
                                     *serial};
        }
    }
    const TapGuardOrders orders = readOrders();
    // Zivra, finding its end closed, learns that the guard gives the tap back
    // itself. Standard input then reads nothing: a connection made later
    // does not take its number.
    if (const int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC); nothing >= 0) {
        dup2(nothing, STDIN_FILENO);
        close(nothing);
    }
    if (orders.undo() == TapGuardOrders::Undo::nothing) {
        return 0;
    }
    for (bool waitSaid = false;; std::this_thread::sleep_for(pauseBetweenTries)) {
        try {
            // However long the server takes to answer: Zivra hands its tap
            // over when the server does not answer it, and goes on.
            PulseLoop loop("zivra-tapguard", PulseLoop::Patience::untilAnswered);
            const PulseLoop::Lock lock(loop);
            if (giveBack(loop, orders, tap)) {
                break;
            }
        } catch (const SoundError& error) {
            if (!mayStillAnswer(error.code())) {
                std::fprintf(stderr, "zivra-tapguard: could not remove Zivra's tap: %s\n",
                             error.what());
                return 1;
            }
        }
        if (!std::exchange(waitSaid, true)) {
            std::fprintf(stderr, "zivra-tapguard: the sound server does not answer; Zivra's tap "
                                 "is removed once it does\n");
        }
    }
    if (tap) {
        forgetRoutes(*tap);
    }
    return 0;
}
