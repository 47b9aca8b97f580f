// Feeds arbitrary bytes as the client side of a WebSocket connection: an
// upgrade request and, right behind it in the same read, the client's
// frames; then frame reading, reassembly, pings and the session's end. The
// bytes go once in as few reads as the kernel likes and once in small
// pieces, one read each: the messages delivered must be the same, so the
// hand-over from the request parser to the session and the read-ahead
// buffer lose, repeat or reorder nothing. (What the session writes back is
// not compared: a local socket closed with input unread may drop what its
// peer has not read yet, so the pieces' run would lose it at random.)
#include "tests/http/fuzz/PeerFeed.h"

#include "http/HttpParser.h"
#include "http/WebSocket.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vuzozar {

namespace {

constexpr size_t maxInput = 65536;

constexpr std::string_view upgradeRequest = "GET /ws HTTP/1.1\r\nUpgrade: websocket\r\n"
                                            "Connection: Upgrade\r\n"
                                            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";

// The messages of the session being served (one at a time).
std::string delivered;

HttpRequestHandler& handler() {
    static HttpRequestHandler handler =
        websocket([](const std::shared_ptr<WebSocketSession>&,
                     const std::string& text) { delivered += "text:" + text + '\n'; },
                  [](const std::shared_ptr<WebSocketSession>&, const std::vector<uint8_t>& bytes) {
                      delivered += "binary:" + std::string(bytes.begin(), bytes.end()) + '\n';
                  },
                  [](const std::shared_ptr<WebSocketSession>&, const std::vector<uint8_t>& bytes) {
                      delivered += "pong:" + std::string(bytes.begin(), bytes.end()) + '\n';
                  });
    return handler;
}

// The messages the session delivered.
std::string serve(std::string_view frames, PeerFeed::Delivery delivery) {
    PeerFeed feed(std::string(upgradeRequest) + std::string(frames), delivery,
                  PeerFeed::Replies::dropped);
    auto request = HttpParser().readHttpRequest(*feed.socket);
    delivered.clear();
    handler()(request).socketHandler()(feed.socket);
    feed.finish();
    return delivered;
}

} // namespace

} // namespace vuzozar

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The session prints a line for every bad frame; keep the fuzzer's own output readable.
    return std::freopen("/dev/null", "w", stdout) ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vuzozar;
    if (size > maxInput) {
        return 0;
    }
    std::string_view frames(reinterpret_cast<const char*>(data), size);
    if (serve(frames, PeerFeed::Delivery::whole) != serve(frames, PeerFeed::Delivery::split)) {
        std::abort(); // a byte was lost, repeated or moved at a read boundary
    }
    return 0;
}
