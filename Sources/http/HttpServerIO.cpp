#include "http/HttpServerIO.h"

#include "http/HttpParser.h"
#include "http/Print.h"
#include "http/Strings.h"

#include <sys/resource.h>
#include <unistd.h>

#include <stdexcept>
#include <system_error>
#include <thread>

namespace vuzozar {

namespace {

// The listening socket, or a SocketError when the server never listened: a
// caller asking too early learns it instead of reading through null.
std::shared_ptr<Socket> listening(const std::shared_ptr<Socket>& socket) {
    if (!socket) {
        throw SocketError(SocketError::Kind::getSockNameFailed, "the server is not listening");
    }
    return socket;
}

void applyPriority(Priority priority) {
    int nice = 0;
    switch (priority) {
    case Priority::utility:
        nice = 5;
        break;
    case Priority::background:
        nice = 10;
        break;
    default:
        return;
    }
    // Lowers only this thread; a thread can always be made nicer.
    setpriority(PRIO_PROCESS, id_t(gettid()), nice);
}

// How long a refused request's connection is drained before it closes.
constexpr auto refusalLinger = std::chrono::seconds(1);

// A response for a client that is not served, which ends its connection.
HttpResponse refusal(int code, std::string phrase) {
    return HttpResponse::raw(code, std::move(phrase), HttpHeaders{{"Connection", "close"}});
}

HttpResponse refusalOf(HttpParserError::Kind kind) {
    switch (kind) {
    case HttpParserError::Kind::unsupportedTransferEncoding:
        return refusal(501, "Not Implemented");
    case HttpParserError::Kind::headTooLarge:
        return refusal(431, "Request Header Fields Too Large");
    case HttpParserError::Kind::bodyTooLarge:
        return refusal(413, "Content Too Large");
    default:
        return refusal(400, "Bad Request");
    }
}

// Forwards the body writes of a response to the connection. The head goes
// out with the first bytes of the body, in one system call and, when both
// fit, one segment; or alone at the end when the body wrote no bytes first.
class InnerWriteContext : public HttpResponseBodyWriter {
public:
    InnerWriteContext(Socket& socket, std::string head) : socket_(socket), head_(std::move(head)) {}
    void write(const File& file) override {
        flush();
        socket_.writeFile(file);
    }
    void write(std::span<const uint8_t> bytes) override {
        if (head_.empty()) {
            socket_.writeUInt8(bytes);
            return;
        }
        std::string head = std::move(head_);
        head_.clear();
        socket_.writeUInt8({reinterpret_cast<const uint8_t*>(head.data()), head.size()}, bytes);
    }
    void flush() {
        std::string head = std::move(head_);
        head_.clear();
        socket_.writeUTF8(head);
    }

private:
    Socket& socket_;
    std::string head_; // not yet written
};

} // namespace

HttpServerIO::HttpServerIO() : socket_(std::make_shared<Socket>(-1)) {}

HttpServerIO::~HttpServerIO() {
    stop();
}

void HttpServerIO::setState(HttpServerIOState state) {
    stateValue_.store(int32_t(state));
}

std::shared_ptr<Socket> HttpServerIO::listeningSocket() {
    std::lock_guard lock(socketLock_);
    return socket_;
}

int HttpServerIO::port() {
    return listening(listeningSocket())->port();
}

bool HttpServerIO::isIPv4() {
    return listening(listeningSocket())->isIPv4();
}

void HttpServerIO::start(uint16_t port, bool forceIPv4, Priority priority) {
    if (operating()) {
        return;
    }
    if (weak_from_this().expired()) {
        throw std::logic_error("An HttpServerIO must be owned by a std::shared_ptr to start");
    }
    stop();
    setState(HttpServerIOState::starting);
    auto listening = Socket::tcpSocketForListen(port, forceIPv4, 128,
                                                forceIPv4 ? listenAddressIPv4 : listenAddressIPv6);
    {
        std::lock_guard lock(socketLock_);
        socket_ = listening;
    }
    setState(HttpServerIOState::running);
    std::weak_ptr<HttpServerIO> weakSelf = weak_from_this();
    std::thread([weakSelf, listening, priority] {
        applyPriority(priority);
        if (auto self = weakSelf.lock()) {
            self->acceptLoop(listening, priority);
        }
    }).detach();
}

void HttpServerIO::acceptLoop(std::shared_ptr<Socket> listening, Priority priority) {
    if (!operating()) {
        return;
    }
    while (true) {
        std::shared_ptr<Socket> client;
        try {
            client = listening->acceptClientSocket();
        } catch (const SocketError&) {
            // A listening socket closed by a stop() that a new start() has
            // already followed must not stop the new run.
            if (listeningSocket() == listening) {
                stop();
            }
            return;
        }
        std::string address;
        try {
            address = client->peername();
        } catch (const SocketError&) {
            client->close(); // reset before it was accepted: nobody to answer
            continue;
        }
        if (connectionCount_.load() >= maxConnections() || !admit(address)) {
            refuseBusy(*client);
            continue;
        }
        ++connectionCount_;
        std::weak_ptr<HttpServerIO> weakSelf = weak_from_this();
        try {
            std::thread([weakSelf, client, address, priority]() mutable {
                applyPriority(priority);
                if (auto self = weakSelf.lock()) {
                    self->serveClient(std::move(client), address);
                }
            }).detach();
        } catch (const std::system_error&) {
            // No thread to serve it (the system is out of them): the client
            // is dropped, and closed with its last reference.
            release(address);
            --connectionCount_;
        }
    }
}

void HttpServerIO::refuseBusy(Socket& client) {
    // A new connection's send buffer is empty, so this never blocks the
    // accept loop.
    try {
        respond(client, refusal(503, "Service Unavailable"), false);
    } catch (const SocketError&) {
        // The client is gone already; it is closed below all the same.
    }
    client.close();
}

void HttpServerIO::refuseRequest(Socket& socket, const HttpParserError& error) {
    try {
        respond(socket, refusalOf(error.kind()), false);
    } catch (const SocketError&) {
        return; // the peer is gone; nothing to linger for
    }
    socket.closeGracefully(refusalLinger);
}

bool HttpServerIO::admit(const std::string& address) {
    size_t share = maxConnectionsPerPeer();
    std::lock_guard lock(peersLock_);
    size_t& count = peerConnections_[address];
    if (share != 0 && count >= share) {
        return false;
    }
    ++count;
    return true;
}

void HttpServerIO::release(const std::string& address) {
    std::lock_guard lock(peersLock_);
    auto entry = peerConnections_.find(address);
    if (entry != peerConnections_.end() && --entry->second == 0) {
        peerConnections_.erase(entry);
    }
}

void HttpServerIO::serveClient(std::shared_ptr<Socket> client, const std::string& address) {
    if (operating()) {
        client->setTimeout(idleTimeout());
        {
            std::lock_guard lock(queue_);
            sockets_.insert(client);
        }
        handleConnection(client, address);
        std::lock_guard lock(queue_);
        sockets_.erase(client);
    }
    // Counted out before the peer sees the end, so that a client that
    // reconnects at once finds its place free.
    release(address);
    --connectionCount_;
    client->close();
}

void HttpServerIO::stop() {
    if (!operating()) {
        return;
    }
    setState(HttpServerIOState::stopping);
    {
        std::lock_guard lock(queue_);
        for (const auto& client : sockets_) {
            client->close();
        }
        sockets_.clear();
    }
    listeningSocket()->close();
    setState(HttpServerIOState::stopped);
}

std::pair<RouteParams, HttpRequestHandler> HttpServerIO::dispatch(const HttpRequestPtr&) {
    return {RouteParams(), [](const HttpRequestPtr&) { return HttpResponse::notFound(); }};
}

void HttpServerIO::handleConnection(const std::shared_ptr<Socket>& socket,
                                    const std::string& address) {
    HttpParser parser(maxBodyLength());
    while (operating()) {
        HttpRequestPtr request;
        try {
            request = parser.readHttpRequest(*socket);
        } catch (const HttpParserError& error) {
            refuseRequest(*socket, error);
            break;
        } catch (const std::exception&) {
            break;
        }
        request->address = address;
        // A handler or middleware that throws, whatever it throws, gets its
        // connection a 500 instead of ending the process.
        std::optional<HttpResponse> response;
        try {
            auto [params, handler] = dispatch(request);
            request->params = std::move(params);
            response = handler(request);
        } catch (...) {
            response = HttpResponse::internalServerError();
        }
        auto connection = request->headers.find("connection");
        bool keepAlive =
            connection != request->headers.end() && trim(connection->second) == "keep-alive";
        if (operating()) {
            // A response cut short leaves the peer unable to tell where it
            // ends (a raw one is read up to the end of the connection, which
            // would never come), so the connection ends with it.
            bool wanted = keepAlive;
            keepAlive = false;
            try {
                keepAlive = respond(*socket, *response, wanted);
            } catch (const std::exception& error) {
                printLine(std::string("Failed to send response: ") + error.what());
            } catch (...) {
                printLine("Failed to send response: unknown error");
            }
        }
        if (response->kind() == HttpResponse::Kind::switchProtocols) {
            if (auto handedOverTo = delegate.lock()) {
                handedOverTo->connectionHandedOver(socket);
            }
            if (response->socketHandler()) {
                // A WebSocket may rightly stay silent for a long time (the
                // phone only listens); its own traffic shows it alive.
                socket->setTimeout(std::chrono::milliseconds(0));
                // The connection is the handler's now; what it throws only
                // ends the connection.
                try {
                    response->socketHandler()(socket);
                } catch (const std::exception& error) {
                    printLine(std::string("Connection handler failed: ") + error.what());
                } catch (...) {
                    printLine("Connection handler failed: unknown error");
                }
            }
            break;
        }
        if (!keepAlive) {
            break;
        }
    }
}

bool HttpServerIO::respond(Socket& socket, const HttpResponse& response, bool keepAlive) {
    if (!operating()) {
        return false;
    }
    std::string head = "HTTP/1.1 " + std::to_string(response.statusCode()) + " " +
                       response.reasonPhrase() + "\r\n";
    HttpContent content = response.content();
    if (content.length >= 0) {
        head += "Content-Length: " + std::to_string(content.length) + "\r\n";
    }
    if (keepAlive && content.length != -1) {
        head += "Connection: keep-alive\r\n";
    }
    for (const auto& [name, value] : response.headers()) {
        head += name + ": " + value + "\r\n";
    }
    head += "\r\n";
    InnerWriteContext writer(socket, std::move(head));
    if (content.write) {
        content.write(writer);
    }
    writer.flush();
    return keepAlive && content.length != -1;
}

} // namespace vuzozar
