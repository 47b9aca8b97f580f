#pragma once

#include "platform/sound/PulseLoop.h"
#include "platform/sound/PulseQueries.h"

#include <cstdint>

// Which loaded modules are Zivra's tap, and their removal. Shared by Zivra and
// its tap guard, so both recognise the tap by the same rule. Every function
// expects the loop to be locked by the caller (PulseLoop::Lock), blocks until
// the server has answered and throws nothing.
namespace zivra::platform::sound::pulse {

// The tap sink's name. The server allows one sink of a name, so there is at
// most one tap on a server at any time.
inline constexpr const char* tapSinkName = "zivra_tap";

// Whether the module is a null sink named tapSinkName. Any thread; no lock needed.
bool isTapModule(const ModuleRecord& module);

// Unloads every tap module: a tap left by a run that ended without removing
// it holds the user's streams, silent until it goes. The server sends the
// streams back to its default sink. Returns how many were unloaded.
int removeTapModules(PulseLoop& loop);

// Unloads the module of that index if it still is a tap; a module that is
// gone, or whose index now belongs to another module, is left alone.
void removeTapModule(PulseLoop& loop, std::uint32_t index);

} // namespace zivra::platform::sound::pulse
