#pragma once

#include "http/Socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string_view>

namespace vuzozar {

// A connected pair of stream sockets: `socket` is ours under test, `peer`
// is the raw descriptor of the other end. Local by default; over loopback
// TCP the kernel queues on both ends of the connection, as it does for a
// peer on the network.
struct SocketPair {
    enum class Transport { local, tcp };

    explicit SocketPair(Transport transport = Transport::local) {
        if (transport == Transport::tcp) {
            connectOverTcp();
            return;
        }
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
            throw std::runtime_error("socketpair failed");
        }
        socket = std::make_shared<vuzozar::Socket>(fds[0]);
        peer = fds[1];
    }
    ~SocketPair() { closePeer(); }

    void send(std::string_view bytes) const {
        size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t result = ::send(peer, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (result <= 0) {
                throw std::runtime_error("send failed");
            }
            sent += size_t(result);
        }
    }

    // Everything the peer can read until `socket` closes or `count` bytes.
    std::string receive(size_t count = SIZE_MAX) const {
        std::string bytes;
        char buffer[4096];
        while (bytes.size() < count) {
            ssize_t result = ::read(peer, buffer, std::min(sizeof buffer, count - bytes.size()));
            if (result <= 0) {
                break;
            }
            bytes.append(buffer, size_t(result));
        }
        return bytes;
    }

    void closePeer() {
        if (peer >= 0) {
            ::close(peer);
            peer = -1;
        }
    }

    std::shared_ptr<vuzozar::Socket> socket;
    int peer = -1;

private:
    void connectOverTcp() {
        auto listening = vuzozar::Socket::tcpSocketForListen(0, true, 1, "127.0.0.1");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(listening->port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        peer = ::socket(AF_INET, SOCK_STREAM, 0);
        if (connect(peer, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            throw std::runtime_error("connect failed");
        }
        socket = listening->acceptClientSocket();
    }
};

} // namespace vuzozar
