#include "handoff/SessionWritability.h"

#include "http/WebSocketSession.h"

#include <poll.h>

namespace zivra::handoff {

bool canWriteWithoutWaiting(const vuzozar::WebSocketSession& session) {
    if (session.socket->isClosed()) {
        return false;
    }
    pollfd connection{session.socket->socketFileDescriptor(), POLLOUT, 0};
    return poll(&connection, 1, 0) == 1 && (connection.revents & POLLOUT);
}

} // namespace zivra::handoff
