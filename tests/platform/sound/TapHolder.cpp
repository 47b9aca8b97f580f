// Creates a tap the way Zivra does, reports "ready" and then waits to be
// killed, or crashes (abort) at the first byte on its standard input: a Zivra
// that dies while it captures.
#include "platform/sound/SoundServer.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main() {
    auto server = zivra::platform::sound::createSoundServer();
    auto tap = server->createTap({"Zivra Tap", getpid()});
    std::puts("ready");
    std::fflush(stdout);
    char byte = 0;
    if (read(STDIN_FILENO, &byte, 1) == 1) {
        std::abort();
    }
    for (;;) {
        pause();
    }
}
