#pragma once

#include "platform/sound/StreamRoutes.h"
#include "platform/sound/TapOwner.h"

namespace zivra::platform::sound {

// The routes of the streams on a tap, kept in the session's runtime folder
// (RuntimeFolder.h) by the Zivra that made the tap, before it moves a stream,
// so that a start after Zivra and its guard both ended without warning can
// still give each stream its sink back, also when the guard had not yet read
// them. One file per tap (TapIdentity), forgotten by whoever removes that tap
// (Zivra, its guard, a later start), never those of another tap, also not of
// an earlier one of the same Zivra whose guard still has work to do. Without
// a runtime folder nothing is kept. Any thread; throws nothing but
// std::bad_alloc.
void keepRoutes(const pulse::TapIdentity& tap, const pulse::StreamRoutes& routes); // none: no file
// None also when the file is not a regular file of sane size (a FIFO, a
// link, something huge): that is said on standard error, never waited on.
pulse::StreamRoutes keptRoutes(const pulse::TapIdentity& tap);
void forgetRoutes(const pulse::TapIdentity& tap);
// Forgets the routes of every owner that has ended: their taps are gone, or
// being removed by whoever calls this.
void forgetEndedRoutes();

} // namespace zivra::platform::sound
