#pragma once

#include "http/HttpParser.h"
#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "http/HttpRouter.h"
#include "http/Socket.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace vuzozar {

// How much of the machine the server's threads may take; lower classes run
// at a higher nice value.
enum class Priority { userInteractive, userInitiated, defaultPriority, utility, background };

// Told of hand-overs on the connection's thread; the server holds it weakly,
// so its owner keeps it alive. Must not throw.
class HttpServerIODelegate {
public:
    virtual ~HttpServerIODelegate() = default;
    // Called just before a protocol-switching handler takes the connection.
    virtual void connectionHandedOver(const std::shared_ptr<Socket>& socket) = 0;
};

// A blocking HTTP/1.1 server: one thread accepts, one thread serves each
// connection (requests one after the other, kept alive when asked), and a
// 101 response hands the connection to its socket handler on that thread.
//
// Own it with std::shared_ptr: while running, the accept thread keeps the
// server alive, and each connection thread does so while it serves. Set the
// delegate and the listen addresses before start(); nothing guards them.
// What handlers throw is caught on their connection thread and never reaches
// the owner.
class HttpServerIO : public std::enable_shared_from_this<HttpServerIO> {
public:
    enum class HttpServerIOState : int32_t { starting = 0, running = 1, stopping = 2, stopped = 3 };

    HttpServerIO();
    virtual ~HttpServerIO();
    HttpServerIO(const HttpServerIO&) = delete;
    HttpServerIO& operator=(const HttpServerIO&) = delete;

    std::weak_ptr<HttpServerIODelegate> delegate;
    // The address to listen on for each family; nothing means every address.
    std::optional<std::string> listenAddressIPv4;
    std::optional<std::string> listenAddressIPv6;

    static constexpr std::chrono::milliseconds defaultIdleTimeout{60'000};
    static constexpr size_t defaultMaxConnections = 256;
    // As much as the socket layer reads, as before the bound could be set: a
    // server whose routes take less (or no) body sets its own.
    static constexpr int64_t defaultMaxBodyLength = Socket::maxReadLength;

    // How long a connection may keep the server waiting for its next
    // request, for the rest of a request, or for taking a response, before
    // it is closed; zero waits for ever. WebSocket sessions are exempt.
    // Any thread; applies to connections accepted afterwards.
    void setIdleTimeout(std::chrono::milliseconds timeout) { idleTimeout_ = timeout; }
    std::chrono::milliseconds idleTimeout() const { return idleTimeout_; }
    // Connections served at once, WebSocket sessions included; one more is
    // answered 503 and closed at once. Keep it below the process's
    // descriptor limit. Any thread; applies from the next accept.
    void setMaxConnections(size_t count) { maxConnections_ = count; }
    size_t maxConnections() const { return maxConnections_; }
    // Connections served at once from one peer address; one more from it is
    // refused like one beyond maxConnections, so that a single peer cannot
    // take every place. Zero (the default) leaves only maxConnections. Any
    // thread; applies from the next accept.
    void setMaxConnectionsPerPeer(size_t count) { maxConnectionsPerPeer_ = count; }
    size_t maxConnectionsPerPeer() const { return maxConnectionsPerPeer_; }
    // The longest request body read, at most Socket::maxReadLength: a
    // request announcing a longer one is answered 413 and its connection
    // closed before any of the body is read. Any thread; applies to
    // connections accepted afterwards.
    void setMaxBodyLength(int64_t length) { maxBodyLength_ = length; }
    int64_t maxBodyLength() const { return maxBodyLength_; }

    HttpServerIOState state() const { return HttpServerIOState(stateValue_.load()); }
    // Sets the state, whatever it was. Any thread.
    void setState(HttpServerIOState state);
    bool operating() const { return state() == HttpServerIOState::running; }

    // The listening socket's port (the one the system chose for port 0).
    // Any thread; before any start() and after stop() both throw SocketError.
    int port();
    bool isIPv4();

    // Listens and starts accepting; does nothing while running. Throws the
    // SocketError of a failed listen, and std::logic_error when the server is
    // not owned by a std::shared_ptr. Any thread, not both at once with stop().
    void start(uint16_t port = 8080, bool forceIPv4 = false,
               Priority priority = Priority::background);
    // Closes the listening socket and every open connection; does not wait
    // for the connection threads. Any thread; throws nothing.
    void stop();

    // The route parameters and the handler for a request. Connection threads,
    // several at once; the base answers every request 404.
    virtual std::pair<RouteParams, HttpRequestHandler> dispatch(const HttpRequestPtr& request);

private:
    void acceptLoop(std::shared_ptr<Socket> listening, Priority priority);
    // Answers a client beyond the connection cap and closes it.
    void refuseBusy(Socket& client);
    // Answers a request that the parser refused and ends its connection.
    void refuseRequest(Socket& socket, const HttpParserError& error);
    // Counts a new client in, false when its address holds its share
    // already; `address` is its peer address.
    bool admit(const std::string& address);
    // Counts a client admitted from `address` out again.
    void release(const std::string& address);
    void serveClient(std::shared_ptr<Socket> client, const std::string& address);
    void handleConnection(const std::shared_ptr<Socket>& socket, const std::string& address);
    bool respond(Socket& socket, const HttpResponse& response, bool keepAlive);
    std::shared_ptr<Socket> listeningSocket();

    std::atomic<int32_t> stateValue_{int32_t(HttpServerIOState::stopped)};
    std::atomic<std::chrono::milliseconds> idleTimeout_{defaultIdleTimeout};
    std::atomic<size_t> maxConnections_{defaultMaxConnections};
    std::atomic<size_t> maxConnectionsPerPeer_{0};
    std::atomic<int64_t> maxBodyLength_{defaultMaxBodyLength};
    // Connections accepted and not yet finished.
    std::atomic<size_t> connectionCount_{0};
    // The same, per peer address; addresses with none are left out.
    std::mutex peersLock_;
    std::map<std::string, size_t> peerConnections_;
    std::mutex socketLock_;
    std::shared_ptr<Socket> socket_;
    // Open client connections, by object (a closed connection's descriptor
    // number may already belong to a new one).
    std::mutex queue_;
    std::set<std::shared_ptr<Socket>> sockets_;
};

} // namespace vuzozar
