#pragma once

namespace vuzozar {
class WebSocketSession;
}

namespace zivra::handoff {

// Whether a frame can go to the session now without waiting for its phone.
// A phone that stops reading (a locked screen keeps the connection open)
// fills its connection, and a write to it would then block until the
// connection dies, holding up every phone served after it; its messages are
// skipped instead while it does not read. Any thread; throws nothing.
bool canWriteWithoutWaiting(const vuzozar::WebSocketSession& session);

} // namespace zivra::handoff
