#pragma once

#include "platform/sound/TapOwner.h"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace zivra::platform::sound {

// The tap's keeper outside Zivra: a small process ("zivra-tapguard", next to
// the running program) that unloads the tap's module when Zivra ends without
// doing so itself, killed, crashed or out of memory, so no stream stays
// trapped. The sound servers do not unload a module when the client that
// loaded it goes away, so something that outlives Zivra has to.
//
// The guard is started before the module is loaded and reads its orders from
// a socket whose other end only this process holds (it is closed in every
// program Zivra starts); the kernel closes that end whatever ends Zivra, and
// the guard then gives each stream back to the sink it came from and removes
// what it was last told of. It closes its own end once it takes no more
// orders. Made, used and destroyed on the thread that owns the tap; route()
// and forget() may come from the tap's event thread as long as the owner
// serialises them with its own calls (the server loop's lock).
class TapGuard {
public:
    // Starts the guard of the tap this process makes under that identity:
    // the guard removes that tap and no other. Throws SoundError when it
    // cannot be started: a tap nobody would remove after a crash is not made.
    explicit TapGuard(const pulse::TapIdentity& tap);
    // Tells the guard that nothing is held any more (the owner has unloaded
    // the module, or never loaded it) and waits for its end; after handOver()
    // it neither tells nor waits.
    ~TapGuard();
    TapGuard(const TapGuard&) = delete;
    TapGuard& operator=(const TapGuard&) = delete;

    // The tap's module is loaded: from now on the guard unloads it when Zivra
    // ends. Throws SoundError when the guard is no longer there.
    void hold(std::uint32_t module);

    // A stream moved onto the tap from that sink, and a stream that has ended.
    // A guard that is gone is not told; it has nothing left to give back.
    void route(std::uint32_t input, const std::string& sink);
    void forget(std::uint32_t input);

    // Whether the guard, asked to stop (a session that ends sends SIGTERM),
    // takes no more orders and is giving the streams back and removing the
    // tap itself. False once handed over, and for a guard that has ended.
    bool givesBack() const;

    // The owner could not remove the tap (the server did not answer): the
    // guard gives the streams back and removes the tap once the server
    // answers, however long that takes, as it does when Zivra ends, while
    // Zivra goes on. Returns at once; the guard's end is awaited by a thread
    // of its own, and nothing is told to it any more.
    void handOver();

private:
    bool send(std::string_view order);

    int socket_ = -1;
    pid_t process_ = -1;
    bool handedOver_ = false;
};

} // namespace zivra::platform::sound
