#pragma once

namespace zivra::platform::sound {

// Whether a process listens on the sound server's local socket: the one
// PULSE_SERVER names, or else the session's own (XDG_RUNTIME_DIR/pulse/native).
// libpulse tells a refused connection alike whether nobody listens there any
// more (the server ended) or the listen queue of a server that is stopped is
// full; only the first is a server gone. False when the server is not reached
// through a local socket. Any thread; throws nothing but std::bad_alloc.
bool serverListens();

} // namespace zivra::platform::sound
