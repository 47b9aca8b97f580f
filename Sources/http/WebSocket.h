#pragma once

#include "http/HttpRouter.h"
#include "http/WebSocketSession.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vuzozar {

using WebSocketTextCallback =
    std::function<void(const std::shared_ptr<WebSocketSession>&, const std::string&)>;
using WebSocketBytesCallback =
    std::function<void(const std::shared_ptr<WebSocketSession>&, const std::vector<uint8_t>&)>;
using WebSocketSessionCallback = std::function<void(const std::shared_ptr<WebSocketSession>&)>;

// A request handler that answers a WebSocket upgrade (400 with the reason
// when the request is none) and then serves the session on the
// connection's thread: connected once, text and binary for each complete
// message, pong for each pong, pings answered, disconnected once at the end.
// The handler keeps the callbacks; they run on that thread, several sessions
// at once, and share the session with whoever else keeps it. Whatever the
// connected, text, binary or pong callback throws ends the session (it is
// printed), which still gets its close frame and its one disconnected; what
// disconnected throws ends the connection. Building the handler throws only
// std::bad_alloc.
HttpRequestHandler websocket(WebSocketTextCallback text = nullptr,
                             WebSocketBytesCallback binary = nullptr,
                             WebSocketBytesCallback pong = nullptr,
                             WebSocketSessionCallback connected = nullptr,
                             WebSocketSessionCallback disconnected = nullptr);

} // namespace vuzozar
