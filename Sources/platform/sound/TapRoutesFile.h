#pragma once

#include "platform/sound/StreamRoutes.h"

namespace zivra::platform::sound {

// The routes of the streams on the tap, kept by the tap's guard in the
// session's runtime folder (XDG_RUNTIME_DIR), so that a start after Zivra and
// its guard both ended without warning can still give each stream its sink
// back. One file per session; without a runtime folder nothing is kept. Any
// thread; throws nothing but std::bad_alloc.
void keepRoutes(const pulse::StreamRoutes& routes); // no routes: no file
pulse::StreamRoutes keptRoutes();
void forgetRoutes();

} // namespace zivra::platform::sound
