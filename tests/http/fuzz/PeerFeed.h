#pragma once

#include "http/Socket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace vuzozar {

// The peer of a Socket under fuzzing: sends it the given bytes and, when
// asked to, reads and drops what it writes back. Sent whole, the bytes
// arrive in as few reads as the kernel likes; split, each piece arrives as
// a read of its own (a SOCK_SEQPACKET pair keeps the pieces apart, and every
// read of the Socket asks for more than a piece holds), so that every
// boundary the read-ahead buffer can meet is met. Threads of its own run
// until finish() only where the socket buffers cannot hold what is sent or
// written back.
class PeerFeed {
public:
    enum class Delivery { whole, split };
    enum class Replies { none, dropped };

    PeerFeed(std::string bytes, Delivery delivery, Replies replies) : bytes_(std::move(bytes)) {
        int fds[2];
        int type = delivery == Delivery::whole ? SOCK_STREAM : SOCK_SEQPACKET;
        if (socketpair(AF_UNIX, type, 0, fds) != 0) {
            std::abort();
        }
        socket = std::make_shared<vuzozar::Socket>(fds[0]);
        peer_ = fds[1];
        // Piece lengths of 1 to 64 bytes, chosen by the bytes themselves.
        size_t seed = std::hash<std::string>()(bytes_);
        for (size_t at = 0; at < bytes_.size();) {
            size_t length = bytes_.size() - at;
            if (delivery == Delivery::split) {
                seed = seed * 6364136223846793005u + 1442695040888963407u;
                length = std::min(length, size_t(1 + (seed >> 58)));
            }
            pieces_.push_back({at, length});
            at += length;
        }
        if (replies == Replies::dropped) {
            receiver_ = std::thread([this] {
                char buffer[65536];
                while (::read(peer_, buffer, sizeof buffer) > 0) {
                }
            });
        }
        size_t sent = send(0, MSG_DONTWAIT);
        if (sent == pieces_.size()) {
            shutdown(peer_, SHUT_WR);
        } else {
            sender_ = std::thread([this, sent] {
                send(sent, 0);
                shutdown(peer_, SHUT_WR);
            });
        }
    }
    ~PeerFeed() { finish(); }
    PeerFeed(const PeerFeed&) = delete;
    PeerFeed& operator=(const PeerFeed&) = delete;

    // Closes the socket under test and waits for the peer's threads.
    void finish() {
        socket->close();
        if (sender_.joinable()) {
            sender_.join();
        }
        if (receiver_.joinable()) {
            receiver_.join();
        }
        if (peer_ >= 0) {
            ::close(peer_);
            peer_ = -1;
        }
    }

    std::shared_ptr<vuzozar::Socket> socket;

private:
    // Sends the pieces from `first` on; the number of pieces sent by then
    // (fewer than all when the socket under test stopped reading, or, with
    // MSG_DONTWAIT, when the buffers are full).
    size_t send(size_t first, int flags) {
        size_t next = first;
        for (; next < pieces_.size(); ++next) {
            auto [at, length] = pieces_[next];
            if (::send(peer_, bytes_.data() + at, length, MSG_NOSIGNAL | flags) !=
                ssize_t(length)) {
                break;
            }
        }
        return next;
    }

    std::string bytes_;
    std::vector<std::pair<size_t, size_t>> pieces_; // offset and length
    int peer_;
    std::thread sender_;
    std::thread receiver_;
};

} // namespace vuzozar
