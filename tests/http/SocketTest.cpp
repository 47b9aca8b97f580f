#include "tests/http/SocketPair.h"

#include "http/File.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

namespace vuzozar {

using Kind = SocketError::Kind;

namespace {

// Runs `call` and gives the kind of the SocketError it throws.
template <class Call> std::optional<Kind> socketErrorOf(Call call) {
    try {
        call();
    } catch (const SocketError& error) {
        return error.kind();
    }
    return std::nullopt;
}

bool isOpen(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

size_t openDescriptorCount() {
    size_t count = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// A client connected to 127.0.0.1:port.
int connectTo(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

TEST(SocketRead, ZeroOrNegativeLengthReadsNothing) {
    SocketPair pair;
    pair.send("x");
    EXPECT_TRUE(pair.socket->read(0).empty());
    EXPECT_TRUE(pair.socket->read(-5).empty());
    EXPECT_EQ(pair.socket->read(), 'x') << "the byte was still waiting";
}

TEST(SocketRead, ExactLengthInOrderAcrossChunks) {
    SocketPair pair;
    std::string data;
    for (int i = 0; i < 3000; ++i) {
        data += char('a' + i % 26);
    }
    pair.send(data);
    auto bytes = pair.socket->read(3000);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), data);
}

TEST(SocketRead, PeerClosingEarlyFailsTheRead) {
    SocketPair pair;
    pair.send("0123456789");
    pair.closePeer();
    EXPECT_EQ(socketErrorOf([&] { pair.socket->read(20); }), Kind::recvFailed);
    EXPECT_EQ(socketErrorOf([&] { pair.socket->read(); }), Kind::recvFailed);
}

TEST(SocketRead, LengthPastTheBoundFailsBeforeReading) {
    SocketPair pair;
    // Nothing is sent: a read that went to the kernel would block forever.
    try {
        pair.socket->read(Socket::maxReadLength + 1);
        FAIL();
    } catch (const SocketError& error) {
        EXPECT_EQ(error.kind(), Kind::recvFailed);
        EXPECT_NE(error.message().find("exceeds the limit"), std::string::npos);
    }
    EXPECT_EQ(socketErrorOf([&] { pair.socket->read(int64_t(1) << 62); }), Kind::recvFailed);
}

TEST(SocketRead, LargeReadAtTheBoundSucceeds) {
    SocketPair pair;
    const int64_t length = int64_t(16) << 20;
    std::thread sender([&] { pair.send(std::string(size_t(length), 'z')); });
    auto bytes = pair.socket->read(length);
    sender.join();
    ASSERT_EQ(int64_t(bytes.size()), length);
    EXPECT_EQ(bytes.front(), 'z');
    EXPECT_EQ(bytes.back(), 'z');
}

TEST(SocketRead, BytesReadAheadServeEveryKindOfReadInOrderAndNothingAfterClose) {
    SocketPair pair;
    std::string large(40000, 'x');
    large.back() = 'y';
    pair.send("GET / HTTP/1.1\r\nab\ncdef" + large + "tail");
    EXPECT_EQ(pair.socket->readLineAsSent(100), "GET / HTTP/1.1\r");
    EXPECT_EQ(pair.socket->readLine(), "ab");
    EXPECT_EQ(pair.socket->read(), 'c');
    auto bytes = pair.socket->read(3);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "def");
    bytes = pair.socket->read(int64_t(large.size())); // past the read-ahead, straight in
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), large);
    EXPECT_EQ(pair.socket->read(), 't');
    EXPECT_EQ(pair.socket->readLineAsSent(2), std::nullopt) << "no line feed within 2 bytes";
    bytes = pair.socket->read(3);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "ail");
    pair.send("12345");
    EXPECT_EQ(pair.socket->read(), '1');
    pair.socket->close();
    EXPECT_EQ(socketErrorOf([&] { pair.socket->read(); }), Kind::recvFailed)
        << "bytes read ahead are not handed out after close()";
    EXPECT_EQ(socketErrorOf([&] { pair.socket->read(2); }), Kind::recvFailed);
    EXPECT_EQ(socketErrorOf([&] { pair.socket->readLineAsSent(10); }), Kind::recvFailed);
}

TEST(SocketReadLine, LineEndingsAndControlBytes) {
    SocketPair pair;
    pair.send("GET / HTTP/1.1\r\n");
    pair.send("a\tb\r\n");
    pair.send("caf\xE9\n");
    pair.send("\r\n");
    pair.send("x\ry\n");
    EXPECT_EQ(pair.socket->readLine(), "GET / HTTP/1.1");
    EXPECT_EQ(pair.socket->readLine(), "ab");
    EXPECT_EQ(pair.socket->readLine(), "caf\xC3\xA9") << "the byte 0xE9 is the character U+00E9";
    EXPECT_EQ(pair.socket->readLine(), "");
    EXPECT_EQ(pair.socket->readLine(), "xy") << "a lone CR neither ends the line nor stays";
}

TEST(SocketReadLine, PeerClosingMidLineFails) {
    SocketPair pair;
    pair.send("no line feed");
    pair.closePeer();
    EXPECT_EQ(socketErrorOf([&] { pair.socket->readLine(); }), Kind::recvFailed);
}

TEST(SocketReadLine, OverlongLineFails) {
    SocketPair pair;
    std::thread sender([&] {
        try {
            pair.send(std::string(Socket::maxLineLength + 1, 'a'));
        } catch (const std::exception&) {
        }
    });
    EXPECT_EQ(socketErrorOf([&] { pair.socket->readLine(); }), Kind::recvFailed);
    pair.socket->close();
    sender.join();
}

TEST(SocketReadLine, ReadsThroughTheOverridableByteRead) {
    // A subclass that feeds its own bytes changes what readLine() sees.
    class Scripted : public Socket {
    public:
        Scripted() : Socket(-1) {}
        uint8_t read() override {
            if (next_ == text_.size()) {
                throw SocketError(Kind::recvFailed, "done");
            }
            return uint8_t(text_[next_++]);
        }
        using Socket::read;

    private:
        std::string text_ = "Host: x\r\n";
        size_t next_ = 0;
    } scripted;
    EXPECT_EQ(scripted.readLine(), "Host: x");
}

TEST(SocketClose, ClosesOnceAndLaterCallsNeverReachTheNumber) {
    SocketPair pair;
    int fd = pair.socket->socketFileDescriptor();
    pair.socket->close();
    EXPECT_TRUE(pair.socket->isClosed());
    EXPECT_FALSE(isOpen(fd));
    // The number is free; the next descriptor the system hands out takes it.
    SocketPair next;
    ASSERT_EQ(next.socket->socketFileDescriptor(), fd);
    pair.socket->close();
    EXPECT_TRUE(isOpen(fd)) << "a second close() must not close the new owner's descriptor";
    EXPECT_EQ(socketErrorOf([&] { pair.socket->writeUTF8("lost"); }), Kind::writeFailed);
    EXPECT_EQ(socketErrorOf([&] { pair.socket->read(); }), Kind::recvFailed);
    EXPECT_EQ(socketErrorOf([&] { pair.socket->read(4); }), Kind::recvFailed);
    char byte;
    EXPECT_EQ(recv(next.peer, &byte, 1, MSG_DONTWAIT), -1) << "nothing reached the new connection";
    pair.socket.reset(); // destroying it closes nothing either
    EXPECT_TRUE(isOpen(fd));
}

TEST(SocketClose, CloseWakesABlockedRead) {
    SocketPair pair;
    auto blocked =
        std::async(std::launch::async, [&] { return socketErrorOf([&] { pair.socket->read(); }); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let it block first
    pair.socket->close();
    EXPECT_EQ(blocked.get(), Kind::recvFailed);
}

TEST(SocketClose, ConcurrentClosesCloseExactlyOnce) {
    // A bystander keeps opening descriptors; a double close would close
    // one of them under its feet (it reuses the numbers we release).
    std::atomic<bool> done{false};
    std::atomic<int> bystanderFailures{0};
    std::thread bystander([&] {
        while (!done) {
            int fds[2];
            if (pipe(fds) != 0) {
                continue;
            }
            char byte = 'b';
            if (write(fds[1], &byte, 1) != 1 || read(fds[0], &byte, 1) != 1) {
                ++bystanderFailures;
            }
            ::close(fds[0]);
            ::close(fds[1]);
        }
    });
    for (int round = 0; round < 300; ++round) {
        SocketPair pair;
        auto socket = pair.socket;
        std::thread reader([socket] { socketErrorOf([&] { socket->read(); }); });
        std::thread closer([socket] { socket->close(); });
        socket->close();
        closer.join();
        reader.join();
    }
    done = true;
    bystander.join();
    EXPECT_EQ(bystanderFailures.load(), 0);
}

TEST(SocketIdentity, EqualByDescriptor) {
    Socket a(-1), b(-1);
    EXPECT_TRUE(a == b);
    EXPECT_EQ(a.hashValue(), b.hashValue());
    EXPECT_EQ(std::hash<Socket>()(a), std::hash<Socket>()(b));
    SocketPair pair;
    EXPECT_FALSE(*pair.socket == a);
}

TEST(SocketWrite, AllBytesArriveAndClosedPeerFailsWithoutSignal) {
    SocketPair pair;
    pair.socket->writeUTF8("h\xC3\xA9");
    std::vector<uint8_t> bytes{1, 2, 3, 4};
    pair.socket->writeUInt8(bytes);
    pair.socket->writeUInt8(std::span(bytes).subspan(1, 2));
    pair.socket->writeUTF8("");
    EXPECT_EQ(pair.receive(9), std::string("h\xC3\xA9\x01\x02\x03\x04\x02\x03", 9));
    pair.closePeer();
    // With SIGPIPE at its default action this process would die here.
    EXPECT_EQ(socketErrorOf([&] { pair.socket->writeUTF8("gone"); }), Kind::writeFailed);
}

TEST(SocketWrite, LargeWriteContinuesPartialWrites) {
    SocketPair pair;
    std::string data(size_t(4) << 20, 'q');
    auto received = std::async(std::launch::async, [&] { return pair.receive(data.size()); });
    pair.socket->writeUTF8(data);
    EXPECT_EQ(received.get().size(), data.size());
}

class SocketWriteFile : public ::testing::Test {
protected:
    void SetUp() override {
        path = std::filesystem::temp_directory_path() /
               ("vuzozar-sendfile-" + std::to_string(getpid()));
        content.clear();
        for (int i = 0; i < 300000; ++i) {
            content += char('0' + i % 10);
        }
        std::ofstream(path, std::ios::binary) << content;
    }
    void TearDown() override { std::filesystem::remove(path); }

    std::filesystem::path path;
    std::string content;
};

TEST_F(SocketWriteFile, SendsTheWholeFileFromItsFirstByte) {
    SocketPair pair;
    File file = openForReading(path.string());
    std::vector<uint8_t> half(content.size() / 2);
    ASSERT_EQ(file.read(half), half.size());
    auto received = std::async(std::launch::async, [&] { return pair.receive(content.size()); });
    pair.socket->writeFile(file);
    EXPECT_EQ(received.get(), content);
    file.close();
}

TEST_F(SocketWriteFile, ClosedPeerFailsWithSendfileTextAndNoSignal) {
    SocketPair pair;
    pair.closePeer();
    File file = openForReading(path.string());
    try {
        pair.socket->writeFile(file);
        FAIL();
    } catch (const SocketError& error) {
        EXPECT_EQ(error.kind(), Kind::writeFailed);
        EXPECT_EQ(error.message(), std::string("sendfile: ") + std::strerror(EPIPE));
    }
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "no SIGPIPE left pending";
    file.close();
}

TEST(SocketListen, EphemeralPortOnEveryIPv4Interface) {
    auto listening = Socket::tcpSocketForListen(0, true, 128, std::nullopt);
    uint16_t port = listening->port();
    EXPECT_NE(port, 0);
    EXPECT_TRUE(listening->isIPv4());
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(listening->socketFileDescriptor(), reinterpret_cast<sockaddr*>(&address), &length);
    EXPECT_EQ(address.sin_addr.s_addr, htonl(INADDR_ANY));

    int client = connectTo(port);
    ASSERT_GE(client, 0);
    auto accepted = listening->acceptClientSocket();
    EXPECT_EQ(accepted->peername(), "127.0.0.1");
    EXPECT_TRUE(accepted->isIPv4());
    ::send(client, "ping\n", 5, 0);
    EXPECT_EQ(accepted->readLine(), "ping");
    ::close(client);
}

TEST(SocketListen, AddressThatIsNoNumberListensEverywhere) {
    auto listening = Socket::tcpSocketForListen(0, true, 128, std::string("not-an-address"));
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(listening->socketFileDescriptor(), reinterpret_cast<sockaddr*>(&address), &length);
    EXPECT_EQ(address.sin_addr.s_addr, htonl(INADDR_ANY));

    auto loopback = Socket::tcpSocketForListen(0, true, 128, std::string("127.0.0.1"));
    getsockname(loopback->socketFileDescriptor(), reinterpret_cast<sockaddr*>(&address), &length);
    EXPECT_EQ(address.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
}

TEST(SocketListen, IPv6LoopbackGivesIPv6PeersTheirHost) {
    std::shared_ptr<Socket> listening;
    try {
        listening = Socket::tcpSocketForListen(0, false, 128, std::string("::1"));
    } catch (const SocketError& error) {
        GTEST_SKIP() << "no IPv6 loopback here: " << error.what();
    }
    EXPECT_FALSE(listening->isIPv4());
    int client = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(listening->port());
    address.sin6_addr = in6addr_loopback;
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listening->acceptClientSocket()->peername(), "::1");
    ::close(client);
}

TEST(SocketListen, PortInUseFailsToBindAndLeaksNothing) {
    auto first = Socket::tcpSocketForListen(0, true, 128, std::string("127.0.0.1"));
    size_t before = openDescriptorCount();
    try {
        Socket::tcpSocketForListen(first->port(), true, 128, std::string("127.0.0.1"));
        FAIL();
    } catch (const SocketError& error) {
        EXPECT_EQ(error.kind(), Kind::bindFailed);
        EXPECT_EQ(error.message(), std::strerror(EADDRINUSE));
    }
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST(SocketListen, CloseWakesABlockedAcceptAndLaterAcceptsFail) {
    auto listening = Socket::tcpSocketForListen(0, true, 128, std::string("127.0.0.1"));
    auto blocked = std::async(std::launch::async, [&] {
        return socketErrorOf([&] { listening->acceptClientSocket(); });
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    listening->close();
    EXPECT_EQ(blocked.get(), Kind::acceptFailed);
    EXPECT_EQ(socketErrorOf([&] { listening->acceptClientSocket(); }), Kind::acceptFailed);
    EXPECT_EQ(socketErrorOf([&] { listening->port(); }), Kind::getSockNameFailed);
}

TEST(SocketPeer, UnconnectedSocketHasNoPeer) {
    auto listening = Socket::tcpSocketForListen(0, true, 128, std::string("127.0.0.1"));
    EXPECT_EQ(socketErrorOf([&] { listening->peername(); }), Kind::getPeerNameFailed);
}

TEST(SocketErrors, DescriptionsNameTheCase) {
    EXPECT_STREQ(SocketError(Kind::recvFailed, "Broken").what(), "recvFailed(\"Broken\")");
    EXPECT_STREQ(SocketError(Kind::convertingPeerNameFailed).what(), "convertingPeerNameFailed");
    errno = ENOENT;
    EXPECT_EQ(Errno::description(), std::strerror(ENOENT));
}

} // namespace vuzozar
