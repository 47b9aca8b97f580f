#pragma once

#include "platform/sound/PulseLoop.h"
#include "platform/sound/PulseQueries.h"
#include "platform/sound/StreamRoutes.h"
#include "platform/sound/TapOwner.h"

#include <cstdint>
#include <optional>
#include <vector>

// Which loaded modules are Zivra's tap, and their removal. Shared by Zivra and
// its tap guard, so both recognise the tap by the same rule. Every function
// expects the loop to be locked by the caller (PulseLoop::Lock), blocks until
// the server has answered (or the loop's patience ends) and throws nothing.
// The caller of a removal holds the TapLock (TapLock.h): only it knows
// whether it may wait for the lock (the guard) or must not (the main thread).
namespace zivra::platform::sound::pulse {

// The tap sink's name. The server allows one sink of a name, so there is at
// most one tap on a server at any time.
inline constexpr const char* tapSinkName = "zivra_tap";

// Moves every stream still on that tap whose route is known back to that
// sink; a tap made since keeps its streams. The others go to the default sink
// when the tap is unloaded. False when a request went unanswered: the tap
// must then not be unloaded yet, or the streams not moved would follow the
// default sink.
bool returnStreams(PulseLoop& loop, const StreamRoutes& routes, const TapIdentity& tap);

// Unloads the module of that tap; no other, also not one given its index
// since. True once it is gone (or never was there); false when a request
// went unanswered.
bool removeTap(PulseLoop& loop, const TapIdentity& tap);

// Whether the module is a null sink named tapSinkName. Any thread; no lock needed.
bool isTapModule(const ModuleRecord& module);

// Whether that tap module is another Zivra's that still runs (not `also`):
// the owner its sink names or, while the server does not list that sink yet
// (a tap being made: its module is listed a few milliseconds before its
// sink), the owner its module's argument names. A tap that names no owner
// (an older Zivra's) or one that has ended is not in use. Any thread; no
// lock needed.
bool isTapInUse(const ModuleRecord& module, const std::vector<SinkRecord>& sinks,
                const std::optional<TapOwner>& also = std::nullopt);

// What a clean-up did: taps unloaded, taps left alone because their owner
// still runs, and whether the server answered every request.
struct TapCleanUp {
    int removed = 0;
    int inUse = 0;
    bool answered = true;
};

// Unloads every tap left behind: a tap left by a run that ended without
// removing it holds the user's streams, silent until it goes. The streams
// whose routes were kept for the tap (TapRoutesFile.h) go back to their
// sinks first. A tap is left behind when it is not in use (isTapInUse); a
// tap of a Zivra that still runs stays, unless that Zivra is `also`. The
// server sends the other streams to its default sink. The routes of each tap
// removed, and those kept for owners that have ended, are forgotten.
TapCleanUp removeTapModules(PulseLoop& loop, const std::optional<TapOwner>& also = std::nullopt);

} // namespace zivra::platform::sound::pulse
