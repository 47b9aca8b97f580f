#pragma once

#include <sys/types.h>

namespace zivra::platform::sound {

// The real-time priorities Zivra asks for: modest, and below those of the
// sound server's own threads (PulseAudio's run at 5, PipeWire's data loop at
// 88), so that the server always goes first; capture and render go before
// the tap hand-off, which has a second of room to catch up.
inline constexpr int audioThreadPriority = 4;
inline constexpr int tapThreadPriority = 3;

// Asks that the thread of this process whose kernel id is `thread` be
// scheduled in real time (first-in first-out, not inherited by forked
// children) at `priority`, or at the highest priority below it that is
// granted: directly where the process's limits allow it, otherwise through
// the desktop's real-time service (RealtimeKit on the system bus), as sound
// servers and their clients do. Either way the process's real-time CPU time
// limit is set first, so that a real-time thread that never sleeps cannot
// freeze a core: at the soft limit (half the hard one) SIGXCPU takes every
// real-time thread of the process back to normal scheduling, which is logged
// once from a thread of its own; only a thread that still runs on to the
// hard limit ends Zivra. Where both refuse, the thread runs on at normal
// priority, and the first such refusal in the process is logged.
// Call it from a thread that is not real-time (the main thread): it may wait
// for the system bus for up to a second. Returns whether the thread now runs
// in real time; throws nothing.
bool requestRealtime(pid_t thread, int priority);

} // namespace zivra::platform::sound
