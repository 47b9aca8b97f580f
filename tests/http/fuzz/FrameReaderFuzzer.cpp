// Feeds arbitrary bytes as the client side of an upgraded connection to a
// WebSocket session: frame reading, reassembly, pings and the session's end.
#include "http/WebSocket.h"

#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

using namespace vuzozar;

namespace {

constexpr size_t maxInput = 65536; // fits a socket pair's buffer whole

HttpResponse upgrade() {
    static HttpRequestHandler handler =
        websocket([](const std::shared_ptr<WebSocketSession>&,
                     const std::string& text) { (void)text.size(); },
                  [](const std::shared_ptr<WebSocketSession>&, const std::vector<uint8_t>& bytes) {
                      (void)bytes.size();
                  },
                  [](const std::shared_ptr<WebSocketSession>&, const std::vector<uint8_t>&) {});
    auto request = std::make_shared<HttpRequest>();
    request->headers = {{"upgrade", "websocket"},
                        {"connection", "Upgrade"},
                        {"sec-websocket-key", "dGhlIHNhbXBsZSBub25jZQ=="}};
    return handler(request);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The session prints a line for every bad frame; keep the fuzzer's own output readable.
    return std::freopen("/dev/null", "w", stdout) ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > maxInput) {
        return 0;
    }
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        return 0;
    }
    // Room for every pong and close frame the session writes back.
    int room = 4 * int(maxInput);
    setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    if (size > 0 && send(fds[1], data, size, MSG_NOSIGNAL) != ssize_t(size)) {
        close(fds[0]);
        close(fds[1]);
        return 0;
    }
    shutdown(fds[1], SHUT_WR);
    upgrade().socketHandler()(std::make_shared<Socket>(fds[0]));
    close(fds[1]);
    return 0;
}
