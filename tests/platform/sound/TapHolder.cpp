// Creates a tap the way Zivra does, reports "ready" and then waits to be
// killed: a Zivra that dies while it captures.
#include "platform/sound/SoundServer.h"

#include <unistd.h>

#include <cstdio>

int main() {
    auto server = zivra::platform::sound::createSoundServer();
    auto tap = server->createTap({"Zivra Tap", getpid()});
    std::puts("ready");
    std::fflush(stdout);
    for (;;) {
        pause();
    }
}
