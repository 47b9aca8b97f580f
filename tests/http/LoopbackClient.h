#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace vuzozar {

// A plain TCP client on 127.0.0.1 for tests that check exact bytes.
class LoopbackClient {
public:
    explicit LoopbackClient(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        // A server that never answers fails the test instead of hanging it.
        timeval guard{30, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd_);
            throw std::runtime_error("cannot connect");
        }
    }
    ~LoopbackClient() { ::close(fd_); }
    LoopbackClient(const LoopbackClient&) = delete;

    void send(const std::string& bytes) const {
        if (::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != ssize_t(bytes.size())) {
            throw std::runtime_error("send failed");
        }
    }

    // Bytes up to and including the blank line that ends a response head.
    std::string readHead() {
        while (buffered_.find("\r\n\r\n") == std::string::npos) {
            if (!fill()) {
                break;
            }
        }
        size_t end = buffered_.find("\r\n\r\n");
        return take(end == std::string::npos ? buffered_.size() : end + 4);
    }

    std::string readExactly(size_t count) {
        while (buffered_.size() < count && fill()) {
        }
        return take(std::min(count, buffered_.size()));
    }

    // Everything until the server closes the connection.
    std::string readToEnd() {
        while (fill()) {
        }
        return take(buffered_.size());
    }

    // True when the server has closed (or reset) the connection.
    bool closedByServer() { return buffered_.empty() && !fill(); }

    // A complete response with a "Content-Length" body.
    std::string readResponse() {
        std::string head = readHead();
        size_t at = head.find("Content-Length: ");
        if (at == std::string::npos) {
            return head;
        }
        size_t length = std::stoul(head.substr(at + 16));
        return head + readExactly(length);
    }

    int fd() const { return fd_; }

private:
    bool fill() {
        char chunk[4096];
        ssize_t result = ::recv(fd_, chunk, sizeof chunk, 0);
        if (result <= 0) {
            return false;
        }
        buffered_.append(chunk, size_t(result));
        return true;
    }

    std::string take(size_t count) {
        std::string taken = buffered_.substr(0, count);
        buffered_.erase(0, count);
        return taken;
    }

    int fd_;
    std::string buffered_;
};

} // namespace vuzozar
