#include "http/Socket.h"

#include "http/Strings.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <thread>

namespace vuzozar {

namespace {

SocketError lastError(SocketError::Kind kind) {
    return SocketError(kind, Errno::description());
}

SocketError closedError(SocketError::Kind kind) {
    return SocketError(kind, "Socket is closed");
}

// Keeps SIGPIPE blocked on the calling thread and discards one that the
// blocked span raised, so a peer that is gone never reaches the process as
// a signal. Used where a call has no MSG_NOSIGNAL of its own (sendfile).
class SigPipeBlock {
public:
    SigPipeBlock() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    }
    ~SigPipeBlock() {
        int savedErrno = errno;
        sigset_t pending;
        sigpending(&pending);
        if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
            timespec none{};
            sigtimedwait(&pipe_, nullptr, &none);
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
        errno = savedErrno;
    }

private:
    sigset_t pipe_;
    sigset_t previous_;
    bool wasPending_;
};

// Errors that concern one pending connection, or a signal, and not the
// listening socket: Linux reports a client that gave up before it was
// accepted, and network errors pending on it, from accept() itself. The
// server stops when accepting fails, so only these are retried.
bool isTransientAcceptError(int error) {
    switch (error) {
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
        return true;
    default:
        return false;
    }
}

// The system is short of descriptors or memory for the moment: going on
// once some are free again keeps the server reachable after a flood of
// connections, where giving up would refuse every later client.
bool isResourceShortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

constexpr auto shortageBackOff = std::chrono::milliseconds(100);

} // namespace

class Socket::Use {
public:
    explicit Use(Socket& socket) : socket_(socket) {
        uint32_t state = socket_.useState_.fetch_add(1) + 1;
        if (state & closedFlag) {
            socket_.release();
            open_ = false;
        }
    }
    ~Use() {
        if (open_) {
            socket_.release();
        }
    }
    explicit operator bool() const { return open_; }

private:
    Socket& socket_;
    bool open_ = true;
};

Socket::Socket(int32_t socketFileDescriptor) : socketFileDescriptor_(socketFileDescriptor) {}

Socket::~Socket() {
    close();
}

void Socket::release() {
    uint32_t state = useState_.fetch_sub(1) - 1;
    uint32_t expected = closedFlag;
    // The last user after close() releases the descriptor, exactly once.
    if (state == closedFlag &&
        useState_.compare_exchange_strong(expected, closedFlag | releasedFlag)) {
        if (socketFileDescriptor_ >= 0) {
            ::close(socketFileDescriptor_);
        }
    }
}

void Socket::close() {
    useState_.fetch_add(1);
    uint32_t previous = useState_.fetch_or(closedFlag);
    if (!(previous & closedFlag) && socketFileDescriptor_ >= 0) {
        // Wakes a read, write or accept blocked on another thread; the
        // descriptor itself is closed when the last of them has returned.
        ::shutdown(socketFileDescriptor_, SHUT_RDWR);
    }
    release();
}

void Socket::closeGracefully(std::chrono::milliseconds linger) {
    {
        Use use(*this);
        if (use && ::shutdown(socketFileDescriptor_, SHUT_WR) == 0) {
            auto deadline = std::chrono::steady_clock::now() + linger;
            uint8_t dropped[4096];
            while (true) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                pollfd input{socketFileDescriptor_, POLLIN, 0};
                if (left.count() <= 0 || poll(&input, 1, int(left.count())) <= 0 ||
                    ::read(socketFileDescriptor_, dropped, sizeof dropped) <= 0) {
                    break;
                }
            }
        }
    }
    close();
}

std::shared_ptr<Socket>
Socket::tcpSocketForListen(uint16_t port, bool forceIPv4, int32_t maxPendingConnection,
                           const std::optional<std::string>& listenAddress) {
    int family = forceIPv4 ? AF_INET : AF_INET6;
    int descriptor = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor == -1) {
        throw lastError(SocketError::Kind::socketCreationFailed);
    }
    auto fail = [descriptor](SocketError::Kind kind) {
        SocketError error = lastError(kind);
        ::close(descriptor);
        return error;
    };
    int one = 1;
    if (setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == -1) {
        throw fail(SocketError::Kind::socketSettingReUseAddrFailed);
    }
    sockaddr_storage address{};
    socklen_t length;
    if (forceIPv4) {
        auto* ipv4 = reinterpret_cast<sockaddr_in*>(&address);
        ipv4->sin_family = AF_INET;
        ipv4->sin_port = htons(port);
        ipv4->sin_addr.s_addr = htonl(INADDR_ANY);
        if (listenAddress) {
            // A text that is not a numeric address keeps the wildcard.
            inet_pton(AF_INET, listenAddress->c_str(), &ipv4->sin_addr);
        }
        length = sizeof(sockaddr_in);
    } else {
        auto* ipv6 = reinterpret_cast<sockaddr_in6*>(&address);
        ipv6->sin6_family = AF_INET6;
        ipv6->sin6_port = htons(port);
        ipv6->sin6_addr = in6addr_any;
        if (listenAddress) {
            inet_pton(AF_INET6, listenAddress->c_str(), &ipv6->sin6_addr);
        }
        length = sizeof(sockaddr_in6);
    }
    if (::bind(descriptor, reinterpret_cast<sockaddr*>(&address), length) == -1) {
        throw fail(SocketError::Kind::bindFailed);
    }
    if (::listen(descriptor, maxPendingConnection) == -1) {
        throw fail(SocketError::Kind::listenFailed);
    }
    return std::make_shared<Socket>(descriptor);
}

std::shared_ptr<Socket> Socket::acceptClientSocket() {
    Use use(*this);
    if (!use) {
        throw SocketError(SocketError::Kind::acceptFailed, "Socket is closed");
    }
    while (true) {
        int client = ::accept4(socketFileDescriptor_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client != -1) {
            // A response goes out as head and body, a WebSocket frame as soon
            // as it is written: with Nagle's algorithm the second write of a
            // response waits for the peer's delayed acknowledgement of the
            // first (about 40 ms on Linux), and audio frames queue up.
            int one = 1;
            setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return std::make_shared<Socket>(client);
        }
        if (isResourceShortage(errno) && !isClosed()) {
            std::this_thread::sleep_for(shortageBackOff);
            continue;
        }
        if (!isTransientAcceptError(errno)) {
            throw lastError(SocketError::Kind::acceptFailed);
        }
    }
}

void Socket::setTimeout(std::chrono::milliseconds timeout) {
    Use use(*this);
    if (!use) {
        return;
    }
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    timeval value{};
    value.tv_sec = time_t(seconds.count());
    value.tv_usec = suseconds_t(std::chrono::microseconds(timeout - seconds).count());
    setsockopt(socketFileDescriptor_, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
    setsockopt(socketFileDescriptor_, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value);
}

sockaddr_storage Socket::localAddress() {
    Use use(*this);
    if (!use) {
        throw closedError(SocketError::Kind::getSockNameFailed);
    }
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(socketFileDescriptor_, reinterpret_cast<sockaddr*>(&address), &length) == -1) {
        throw lastError(SocketError::Kind::getSockNameFailed);
    }
    return address;
}

uint16_t Socket::port() {
    sockaddr_storage address = localAddress();
    // IPv4 and IPv6 addresses keep the port at the same place.
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

bool Socket::isIPv4() {
    return localAddress().ss_family == AF_INET;
}

std::string Socket::peername() {
    Use use(*this);
    if (!use) {
        throw closedError(SocketError::Kind::getPeerNameFailed);
    }
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(socketFileDescriptor_, reinterpret_cast<sockaddr*>(&address), &length) == -1) {
        throw lastError(SocketError::Kind::getPeerNameFailed);
    }
    char host[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, nullptr, 0,
                    NI_NUMERICHOST) != 0) {
        throw lastError(SocketError::Kind::getNameInfoFailed);
    }
    return host;
}

void Socket::writeUTF8(std::string_view text) {
    writeBuffer(text.data(), text.size());
}

void Socket::writeUInt8(std::span<const uint8_t> bytes) {
    writeBuffer(bytes.data(), bytes.size());
}

void Socket::writeUInt8(std::span<const uint8_t> first, std::span<const uint8_t> second) {
    iovec vectors[] = {{const_cast<uint8_t*>(first.data()), first.size()},
                       {const_cast<uint8_t*>(second.data()), second.size()}};
    writeVectors(vectors, 2);
}

void Socket::writeBuffer(const void* bytes, size_t length) {
    iovec vector{const_cast<void*>(bytes), length};
    writeVectors(&vector, 1);
}

void Socket::writeVectors(iovec* vectors, size_t count) {
    auto skipWritten = [&vectors, &count](size_t written) {
        while (count > 0 && written >= vectors->iov_len) {
            written -= vectors->iov_len;
            ++vectors;
            --count;
        }
        if (count > 0) {
            vectors->iov_base = static_cast<uint8_t*>(vectors->iov_base) + written;
            vectors->iov_len -= written;
        }
    };
    skipWritten(0);
    if (count == 0) {
        return;
    }
    Use use(*this);
    if (!use) {
        throw closedError(SocketError::Kind::writeFailed);
    }
    while (count > 0) {
        msghdr message{};
        message.msg_iov = vectors;
        message.msg_iovlen = count;
        ssize_t result = ::sendmsg(socketFileDescriptor_, &message, MSG_NOSIGNAL);
        if (result == -1 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            throw lastError(SocketError::Kind::writeFailed);
        }
        skipWritten(size_t(result));
    }
}

size_t Socket::writeWithoutWaiting(std::span<const uint8_t> first,
                                   std::span<const uint8_t> second) {
    iovec vectors[] = {{const_cast<uint8_t*>(first.data()), first.size()},
                       {const_cast<uint8_t*>(second.data()), second.size()}};
    Use use(*this);
    if (!use) {
        throw closedError(SocketError::Kind::writeFailed);
    }
    msghdr message{};
    message.msg_iov = vectors;
    message.msg_iovlen = 2;
    while (true) {
        ssize_t result = ::sendmsg(socketFileDescriptor_, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (result >= 0) {
            return size_t(result);
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        if (errno != EINTR) {
            throw lastError(SocketError::Kind::writeFailed);
        }
    }
}

size_t Socket::unsentBytes() {
    Use use(*this);
    if (!use) {
        throw closedError(SocketError::Kind::writeFailed);
    }
    int unsent = 0;
    if (ioctl(socketFileDescriptor_, SIOCOUTQ, &unsent) == -1) {
        throw lastError(SocketError::Kind::writeFailed);
    }
    return size_t(std::max(unsent, 0));
}

void Socket::writeFile(const File& file) {
    Use use(*this);
    if (!use) {
        throw closedError(SocketError::Kind::writeFailed);
    }
    auto fail = [] {
        return SocketError(SocketError::Kind::writeFailed, "sendfile: " + Errno::description());
    };
    int source = fileno(file.pointer());
    struct stat status {};
    if (fstat(source, &status) == -1) {
        throw fail();
    }
    SigPipeBlock noSigPipe;
    // Linux's sendfile sends at most about 2 GiB per call and may send less.
    off_t offset = 0;
    while (offset < status.st_size) {
        ssize_t result =
            sendfile(socketFileDescriptor_, source, &offset, size_t(status.st_size - offset));
        if (result == -1 && errno == EINTR) {
            continue;
        }
        if (result == -1) {
            throw fail();
        }
        if (result == 0) {
            return; // The file became shorter while it was sent.
        }
    }
}

uint8_t Socket::read() {
    takeReadAhead();
    return readAhead_[readAheadBegin_++];
}

size_t Socket::readChunk(uint8_t* into, size_t count) {
    Use use(*this);
    if (!use) {
        throw closedError(SocketError::Kind::recvFailed);
    }
    while (true) {
        ssize_t result = ::read(socketFileDescriptor_, into, count);
        if (result == -1 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            throw lastError(SocketError::Kind::recvFailed);
        }
        return size_t(result);
    }
}

size_t Socket::takeReadAhead() {
    if (readAheadBegin_ == readAheadEnd_) {
        if (!readAhead_) {
            readAhead_ = std::make_unique_for_overwrite<uint8_t[]>(readAheadCapacity);
        }
        readAheadEnd_ = readChunk(readAhead_.get(), readAheadCapacity);
        readAheadBegin_ = 0;
    } else if (isClosed()) {
        // What was read ahead belongs to a connection that is over.
        throw closedError(SocketError::Kind::recvFailed);
    }
    return readAheadEnd_ - readAheadBegin_;
}

std::vector<uint8_t> Socket::read(int64_t length) {
    if (length <= 0) {
        return {};
    }
    if (length > maxReadLength) {
        throw SocketError(SocketError::Kind::recvFailed,
                          "Length " + std::to_string(length) + " exceeds the limit of " +
                              std::to_string(maxReadLength) + " bytes");
    }
    // The buffer grows with the bytes that really arrive, so a peer that
    // announces much and sends little costs little.
    std::vector<uint8_t> buffer;
    size_t wanted = size_t(length);
    size_t offset = 0;
    while (offset < wanted) {
        size_t missing = wanted - offset;
        if (readAheadBegin_ != readAheadEnd_ || missing < readAheadCapacity) {
            // Short reads go through the read-ahead, which may also take
            // in what follows them (the next request, the next frame).
            size_t taken = std::min(missing, takeReadAhead());
            buffer.resize(std::max(buffer.size(), offset + taken));
            std::memcpy(buffer.data() + offset, readAhead_.get() + readAheadBegin_, taken);
            readAheadBegin_ += taken;
            offset += taken;
            continue;
        }
        size_t chunk = std::min(missing, directReadChunk);
        if (buffer.size() < offset + chunk) {
            buffer.resize(std::min(wanted, std::max(buffer.size() * 2, offset + chunk)));
        }
        offset += readChunk(buffer.data() + offset, chunk);
    }
    return buffer;
}

std::optional<std::string> Socket::readLineAsSent(size_t maxLength) {
    std::string line;
    while (true) {
        size_t available = takeReadAhead();
        const uint8_t* from = readAhead_.get() + readAheadBegin_;
        auto* end = static_cast<const uint8_t*>(std::memchr(from, '\n', available));
        size_t taken = end ? size_t(end - from) : available;
        if (line.size() + taken > maxLength) {
            return std::nullopt;
        }
        line.append(reinterpret_cast<const char*>(from), taken);
        readAheadBegin_ += taken;
        if (end) {
            ++readAheadBegin_;
            return line;
        }
    }
}

std::string Socket::readLine() {
    std::string line;
    size_t count = 0;
    while (true) {
        uint8_t byte = read();
        if (byte == 10) {
            return line;
        }
        if (++count > maxLineLength) {
            throw SocketError(SocketError::Kind::recvFailed,
                              "Line longer than " + std::to_string(maxLineLength) + " bytes");
        }
        if (byte > 13) {
            appendLatin1(line, byte);
        }
    }
}

} // namespace vuzozar
