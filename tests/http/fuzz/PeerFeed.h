#pragma once

#include "http/Socket.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vuzozar {

// The peer of a Socket under fuzzing: sends it the given bytes and drops
// what it writes back. Sent whole, the bytes arrive in as few reads as the
// kernel likes; split, each piece arrives as a read of its own (a
// SOCK_SEQPACKET pair keeps the pieces apart, and every read of the Socket
// asks for more than a piece holds), so that every boundary the read-ahead
// buffer can meet is met. Runs two threads of its own until finish().
class PeerFeed {
public:
    enum class Delivery { whole, split };

    PeerFeed(std::string bytes, Delivery delivery) {
        int fds[2];
        int type = delivery == Delivery::whole ? SOCK_STREAM : SOCK_SEQPACKET;
        if (socketpair(AF_UNIX, type, 0, fds) != 0) {
            std::abort();
        }
        socket = std::make_shared<vuzozar::Socket>(fds[0]);
        peer_ = fds[1];
        sender_ = std::thread([this, bytes = std::move(bytes), delivery] {
            // Piece lengths of 1 to 64 bytes, chosen by the bytes themselves.
            size_t seed = std::hash<std::string_view>()(bytes);
            for (size_t at = 0; at < bytes.size();) {
                size_t length = bytes.size() - at;
                if (delivery == Delivery::split) {
                    seed = seed * 6364136223846793005u + 1442695040888963407u;
                    length = std::min(length, size_t(1 + (seed >> 58)));
                }
                if (send(peer_, bytes.data() + at, length, MSG_NOSIGNAL) != ssize_t(length)) {
                    break; // the socket under test has closed
                }
                at += length;
            }
            shutdown(peer_, SHUT_WR);
        });
        receiver_ = std::thread([this] {
            char buffer[65536];
            while (::read(peer_, buffer, sizeof buffer) > 0) {
            }
        });
    }
    ~PeerFeed() { finish(); }
    PeerFeed(const PeerFeed&) = delete;
    PeerFeed& operator=(const PeerFeed&) = delete;

    // Closes the socket under test and waits for the peer's threads.
    void finish() {
        socket->close();
        if (sender_.joinable()) {
            sender_.join();
            receiver_.join();
            ::close(peer_);
        }
    }

    std::shared_ptr<vuzozar::Socket> socket;

private:
    int peer_;
    std::thread sender_;
    std::thread receiver_;
};

} // namespace vuzozar
