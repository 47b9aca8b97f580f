#pragma once

#include "http/File.h"
#include "http/SocketError.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vuzozar {

// A connected or listening TCP descriptor with blocking reads and writes.
//
// The descriptor is closed exactly once, also when close() runs on two
// threads at once (a connection's own thread and the server's stop()). A
// read or write that starts after close() fails as recvFailed/writeFailed
// without touching the descriptor number, which the system may already have
// given to another connection; one already blocked in the kernel is woken by
// close() and the number is released only when it has returned.
//
// Writes never raise SIGPIPE: sends use MSG_NOSIGNAL and writeFile() keeps
// SIGPIPE blocked on its thread while it runs.
//
// Shared through std::shared_ptr by the server, its connection thread and
// whatever a handler hands it to; the socket owns its descriptor. close(),
// closeGracefully(), setTimeout() and isClosed() run on any thread and throw
// nothing; every other call throws SocketError when the system call fails.
// Concurrent writers need a lock of their own (WebSocketSession has one).
class Socket {
public:
    // Peers decide the lengths of request bodies and WebSocket payloads; a
    // read of more than this many bytes fails like a broken connection
    // before anything is set aside for it.
    static constexpr int64_t maxReadLength = int64_t(64) << 20;
    // A line (request line or header line) longer than this fails the same
    // way, so a peer that never sends a line feed cannot grow one forever.
    static constexpr size_t maxLineLength = size_t(64) << 10;

    explicit Socket(int32_t socketFileDescriptor);
    virtual ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int32_t socketFileDescriptor() const { return socketFileDescriptor_; }

    // A socket listening on `port` (0: the system picks one) of every
    // interface, or of `listenAddress` when that is a numeric address of the
    // family (AF_INET when forceIPv4, else AF_INET6 accepting IPv4 too).
    static std::shared_ptr<Socket>
    tcpSocketForListen(uint16_t port, bool forceIPv4, int32_t maxPendingConnection,
                       const std::optional<std::string>& listenAddress);
    // Blocks until a client connects. While the process is out of
    // descriptors or memory it waits and tries again rather than failing.
    std::shared_ptr<Socket> acceptClientSocket();

    // Reads and writes that wait longer than `timeout` for the peer fail as
    // recvFailed/writeFailed; zero waits for ever (the default).
    void setTimeout(std::chrono::milliseconds timeout);

    void close();
    // Ends the sending side, so that the peer reads everything written and
    // then the end; drops what the peer still sends until it closes or
    // `linger` has passed; then closes. Closing at once with unread input
    // would reset the connection, which can destroy the last response
    // before the peer has read it. Blocks for at most `linger`.
    void closeGracefully(std::chrono::milliseconds linger);
    // Whether close() has run (the descriptor may still be in use).
    bool isClosed() const { return useState_.load() & closedFlag; }

    uint16_t port();
    bool isIPv4();
    // The peer's numeric host.
    std::string peername();

    void writeUTF8(std::string_view text);
    void writeUInt8(std::span<const uint8_t> bytes);
    // `first`, then `second`, handed to the kernel together: a response
    // head and its body leave in one segment when they fit.
    void writeUInt8(std::span<const uint8_t> first, std::span<const uint8_t> second);
    // Sends the whole file from its first byte, whatever the stream position.
    void writeFile(const File& file);
    // `first`, then `second`, as far as the connection takes them now
    // without waiting for the peer: the number of bytes written, 0 when it
    // takes none.
    size_t writeWithoutWaiting(std::span<const uint8_t> first, std::span<const uint8_t> second);
    // Bytes written that the peer has not taken yet: for TCP those it has
    // not acknowledged, for a local socket those it has not read (with the
    // kernel's own overhead on them).
    size_t unsentBytes();

    // Reads go through a read-ahead buffer of the socket's own, filled by
    // one system call at a time: a request head costs one call instead of
    // one per byte. Bytes read ahead stay for the next read of any kind,
    // so the next request, or a WebSocket's first frame sent right after
    // its upgrade request, is found where it begins; after close() they
    // are not handed out. Reads are for one thread at a time.

    // One byte.
    virtual uint8_t read();
    // Exactly `length` bytes; nothing for a length of 0 or less. Long
    // reads past what was read ahead go straight into the result.
    virtual std::vector<uint8_t> read(int64_t length);
    // One line without its LF; every byte 0 to 13 is dropped wherever it
    // stands and each other byte becomes the character of the same value.
    virtual std::string readLine();
    // One line as sent: the bytes before the next LF, a CR and every other
    // byte kept; nothing when no LF comes within `maxLength` bytes.
    std::optional<std::string> readLineAsSent(size_t maxLength);

    bool operator==(const Socket& other) const {
        return socketFileDescriptor_ == other.socketFileDescriptor_;
    }
    size_t hashValue() const { return std::hash<int32_t>()(socketFileDescriptor_); }

private:
    // Holds the descriptor open for one system call; false once closed.
    class Use;

    sockaddr_storage localAddress();
    void writeBuffer(const void* bytes, size_t length);
    // Writes every byte of the vectors, which it changes on the way.
    void writeVectors(iovec* vectors, size_t count);
    // One read() system call of at most `count` bytes.
    size_t readChunk(uint8_t* into, size_t count);
    // Refills the read-ahead when it is empty; the number of bytes in it.
    size_t takeReadAhead();
    void release();

    static constexpr uint32_t closedFlag = 1u << 31;   // close() has run
    static constexpr uint32_t releasedFlag = 1u << 30; // the descriptor is closed

    static constexpr size_t readAheadCapacity = size_t(16) << 10;
    static constexpr size_t directReadChunk = size_t(64) << 10;

    int32_t socketFileDescriptor_;
    // Allocated by the first read; bytes [begin, end) are unread.
    std::unique_ptr<uint8_t[]> readAhead_;
    size_t readAheadBegin_ = 0;
    size_t readAheadEnd_ = 0;
    // Number of system calls in flight, plus the two flags above.
    std::atomic<uint32_t> useState_{0};
};

} // namespace vuzozar

template <> struct std::hash<vuzozar::Socket> {
    size_t operator()(const vuzozar::Socket& socket) const { return socket.hashValue(); }
};
