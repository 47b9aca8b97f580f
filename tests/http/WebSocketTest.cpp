#include "tests/http/LoopbackClient.h"
#include "tests/http/SocketPair.h"
#include "tests/http/StopAndDrain.h"
#include "tests/http/WebSocketFrames.h"

#include "http/HttpServer.h"
#include "http/WebSocket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace vuzozar {

using OpCode = WebSocketSession::OpCode;
using WsError = WebSocketSession::WsError;

namespace {

HttpRequestPtr upgradeRequest(const std::string& key) {
    auto request = std::make_shared<HttpRequest>();
    request->headers["upgrade"] = "websocket";
    request->headers["connection"] = "keep-alive, Upgrade";
    request->headers["sec-websocket-key"] = key;
    return request;
}

std::string bodyOf(const HttpResponse& response) {
    struct Collect : HttpResponseBodyWriter {
        void write(const File&) override {}
        void write(std::span<const uint8_t> bytes) override {
            text.append(bytes.begin(), bytes.end());
        }
        std::string text;
    } collect;
    response.content().write(collect);
    return collect.text;
}

std::optional<WsError::Kind> frameErrorOf(SocketPair& pair, const std::string& bytes,
                                          std::string* description = nullptr) {
    pair.send(bytes);
    WebSocketSession session(pair.socket);
    try {
        session.readFrame();
    } catch (const WsError& error) {
        if (description) {
            *description = error.description();
        }
        return error.kind();
    }
    return std::nullopt;
}

} // namespace

TEST(WebSocketHandshake, Rfc6455SampleKey) {
    auto response = websocket()(upgradeRequest("dGhlIHNhbXBsZSBub25jZQ=="));
    EXPECT_EQ(response.kind(), HttpResponse::Kind::switchProtocols);
    auto headers = response.headers();
    EXPECT_EQ(headers.at("Sec-WebSocket-Accept"), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    EXPECT_EQ(headers.at("Upgrade"), "WebSocket");
    EXPECT_EQ(headers.at("Connection"), "Upgrade");
    EXPECT_EQ(response.content().length, -1);
}

TEST(WebSocketHandshake, BadUpgradesAnswer400WithTheReason) {
    auto missingUpgrade = upgradeRequest("k");
    missingUpgrade->headers.erase("upgrade");
    auto response = websocket()(missingUpgrade);
    EXPECT_EQ(response.statusCode(), 400);
    EXPECT_EQ(bodyOf(response), "Invalid value of 'Upgrade' header: unknown");

    auto wrongUpgrade = upgradeRequest("k");
    wrongUpgrade->headers["upgrade"] = "h2c";
    EXPECT_EQ(bodyOf(websocket()(wrongUpgrade)), "Invalid value of 'Upgrade' header: h2c");

    auto wrongConnection = upgradeRequest("k");
    wrongConnection->headers["connection"] = "close";
    EXPECT_EQ(bodyOf(websocket()(wrongConnection)), "Invalid value of 'Connection' header: close");
    wrongConnection->headers.erase("connection");
    EXPECT_EQ(bodyOf(websocket()(wrongConnection)),
              "Invalid value of 'Connection' header: unknown");

    auto noKey = upgradeRequest("k");
    noKey->headers.erase("sec-websocket-key");
    EXPECT_EQ(bodyOf(websocket()(noKey)), "Invalid value of 'Sec-Websocket-Key' header: unknown");

    auto tokens = upgradeRequest("k");
    tokens->headers["upgrade"] = "foo, WebSocket";
    EXPECT_EQ(websocket()(tokens).statusCode(), 101);
}

TEST(WebSocketFrameReading, LengthsAndUnmasking) {
    SocketPair pair;
    WebSocketSession session(pair.socket);
    pair.send(clientFrame(0x81, "hello"));
    auto frame = session.readFrame();
    EXPECT_EQ(frame.opcode, OpCode::text);
    EXPECT_TRUE(frame.fin);
    EXPECT_EQ(std::string(frame.payload.begin(), frame.payload.end()), "hello");

    std::string medium(300, 'm');
    pair.send(clientFrame(0x02, medium));
    frame = session.readFrame();
    EXPECT_EQ(frame.opcode, OpCode::binary);
    EXPECT_FALSE(frame.fin);
    EXPECT_EQ(std::string(frame.payload.begin(), frame.payload.end()), medium);

    std::string large(65536, 'L');
    std::thread sender([&] { pair.send(clientFrame(0x82, large)); });
    frame = session.readFrame();
    sender.join();
    EXPECT_EQ(frame.payload.size(), 65536u) << "the 64-bit length 00 00 00 00 00 01 00 00";

    pair.send(clientFrame(0x80, "x"));
    EXPECT_EQ(session.readFrame().opcode, OpCode::continue_);
    pair.send(clientFrame(0x89, ""));
    frame = session.readFrame();
    EXPECT_EQ(frame.opcode, OpCode::ping);
    EXPECT_TRUE(frame.payload.empty());
}

TEST(WebSocketFrameReading, RefusedFrames) {
    std::string description;
    SocketPair reserved;
    EXPECT_EQ(frameErrorOf(reserved, clientFrame(0xC1, "x"), &description),
              WsError::Kind::protocolError);
    EXPECT_EQ(description, "protocolError(\"Reserved frame bit has not been negociated.\")");
    SocketPair unknown;
    EXPECT_EQ(frameErrorOf(unknown, clientFrame(0x83, "x"), &description),
              WsError::Kind::unknownOpCode);
    EXPECT_EQ(description, "unknownOpCode(\"3\")");
    SocketPair fragmentedPing;
    EXPECT_EQ(frameErrorOf(fragmentedPing, clientFrame(0x09, "x"), &description),
              WsError::Kind::protocolError);
    EXPECT_EQ(description, "protocolError(\"Control frames must not be fragmented.\")");
    SocketPair unmasked;
    EXPECT_EQ(frameErrorOf(unmasked, clientFrame(0x81, "x", 0, false), &description),
              WsError::Kind::unMaskedFrame);
    EXPECT_EQ(description,
              "unMaskedFrame(\"A client must mask all frames that it sends to the server.\")");
}

TEST(WebSocketFrameReading, OverBoundLengthFailsWithoutReadingThePayload) {
    SocketPair pair;
    // A header announcing 2^62 bytes and nothing after it: reading on would block.
    std::string header = "\x82\xFF";
    header += std::string("\x40\x00\x00\x00\x00\x00\x00\x00", 8);
    std::string description;
    EXPECT_EQ(frameErrorOf(pair, header, &description), WsError::Kind::protocolError);
    EXPECT_NE(description.find("exceeds the limit"), std::string::npos);
}

TEST(WebSocketFrameWriting, LengthEncodings) {
    SocketPair pair;
    WebSocketSession session(pair.socket);
    auto header = [&](size_t length) {
        std::vector<uint8_t> payload(length, 7);
        std::thread writer([&] { session.writeFrame(payload, OpCode::binary, true); });
        auto frame = readServerFrame([&](size_t n) { return pair.receive(n); });
        writer.join();
        EXPECT_EQ(frame.firstByte, 0x82);
        EXPECT_EQ(frame.payload.size(), length);
    };
    header(125);
    header(126);
    header(65535);
    header(65536);

    // The raw header bytes of the same lengths.
    auto rawHeader = [&](size_t length, size_t headerSize) {
        std::vector<uint8_t> payload(length, 1);
        std::thread writer([&] { session.writeFrame(payload, OpCode::text, false); });
        std::string head = pair.receive(headerSize);
        pair.receive(length);
        writer.join();
        return head;
    };
    EXPECT_EQ(rawHeader(125, 2), std::string("\x01\x7D", 2));
    EXPECT_EQ(rawHeader(126, 4), std::string("\x01\x7E\x00\x7E", 4));
    EXPECT_EQ(rawHeader(65535, 4), std::string("\x01\x7E\xFF\xFF", 4));
    EXPECT_EQ(rawHeader(65536, 10), std::string("\x01\x7F\x00\x00\x00\x00\x00\x01\x00\x00", 10));
}

TEST(WebSocketFrameWriting, TextBinaryAndCloseFrames) {
    SocketPair pair;
    WebSocketSession session(pair.socket);
    session.writeText("h\xC3\xA9");
    std::vector<uint8_t> bytes{1, 2, 3};
    session.writeBinary(bytes);
    session.writeBinary(std::span(bytes).subspan(1));
    session.writeCloseFrame();
    EXPECT_EQ(pair.receive(16),
              std::string("\x81\x03h\xC3\xA9\x82\x03\x01\x02\x03\x82\x02\x02\x03\x88\x00", 16));
}

// A browser fails the connection on any frame after the close frame: a
// phone that leaves while its audio is being sent would see an error.
TEST(WebSocketFrameWriting, NothingFollowsTheCloseFrame) {
    SocketPair pair;
    WebSocketSession session(pair.socket);
    session.writeCloseFrame();
    std::vector<uint8_t> bytes{1, 2, 3};
    EXPECT_FALSE(session.writeFrameWithoutWaiting(bytes, OpCode::binary, SIZE_MAX));
    session.writeBinary(bytes);
    session.writeText("late");
    session.writeCloseFrame();
    pair.socket->close();
    EXPECT_EQ(pair.receive(), std::string("\x88\x00", 2));
}

TEST(WebSocketFrameWriting, FailuresArePrintedNotThrown) {
    SocketPair pair;
    WebSocketSession session(pair.socket);
    pair.socket->close();
    testing::internal::CaptureStdout();
    EXPECT_NO_THROW(session.writeText("lost"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "writeFailed(\"Socket is closed\")\n");
}

TEST(WebSocketFrameWriting, ConcurrentWritersNeverInterleave) {
    SocketPair pair;
    auto session = std::make_shared<WebSocketSession>(pair.socket);
    const int writers = 4, framesEach = 200;
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            std::vector<uint8_t> payload(size_t(1000 + w * 3000), uint8_t('a' + w));
            for (int i = 0; i < framesEach; ++i) {
                session->writeBinary(payload);
            }
        });
    }
    int whole = 0;
    for (int i = 0; i < writers * framesEach; ++i) {
        auto frame = readServerFrame([&](size_t n) { return pair.receive(n); });
        char first = frame.payload.empty() ? 0 : frame.payload[0];
        whole += frame.payload.size() == size_t(1000 + (first - 'a') * 3000) &&
                 frame.payload.find_first_not_of(first) == std::string::npos;
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(whole, writers * framesEach);
}

// A frame the connection takes in part holds back every later frame until
// its rest has gone out, so the peer reads both whole and in order.
TEST(WebSocketFrameWriting, AFrameBegunIsFinishedBeforeTheNext) {
    SocketPair pair;
    const int small = 4096;
    setsockopt(pair.socket->socketFileDescriptor(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    WebSocketSession session(pair.socket);
    const std::string large(20000, 'L');
    const std::span bytes(reinterpret_cast<const uint8_t*>(large.data()), large.size());
    EXPECT_TRUE(session.writeFrameWithoutWaiting(bytes, OpCode::binary, SIZE_MAX));
    EXPECT_FALSE(session.writeFrameWithoutWaiting(bytes, OpCode::binary, SIZE_MAX));
    std::thread writer([&] { session.writeText("after"); });
    auto read = [&pair](size_t count) { return pair.receive(count); };
    EXPECT_EQ(readServerFrame(read).payload, large);
    EXPECT_EQ(readServerFrame(read).payload, "after");
    writer.join();
    EXPECT_FALSE(session.writeFrameWithoutWaiting(bytes.first(1), OpCode::binary, 2))
        << "its 3 bytes would wait for the peer";
    EXPECT_TRUE(session.writeFrameWithoutWaiting(bytes.first(1), OpCode::binary, 3));
}

TEST(WebSocketSessionLifetime, ReleasingAnOpenSessionClosesIt) {
    SocketPair pair;
    auto session = std::make_shared<WebSocketSession>(pair.socket);
    auto other = std::make_shared<WebSocketSession>(pair.socket);
    EXPECT_TRUE(*session == *other);
    EXPECT_EQ(session->hashValue(), std::hash<WebSocketSession>()(*other));
    session.reset();
    EXPECT_EQ(pair.receive(), std::string("\x88\x00", 2)) << "one close frame, then the end";
    EXPECT_TRUE(pair.socket->isClosed());
    other.reset(); // its socket is closed already: nothing more is written
}

// A server with a WebSocket route that records its callbacks.
class WebSocketServer : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_shared<HttpServer>();
        server->listenAddressIPv4 = "127.0.0.1";
        server->GET["/ws"] = websocket(
            [this](const std::shared_ptr<WebSocketSession>& session, const std::string& text) {
                record("text:" + text);
                if (text == "throw 42") {
                    throw 42;
                }
                if (text == "throw std") {
                    throw std::runtime_error("from text");
                }
                session->writeText(text);
            },
            [this](const std::shared_ptr<WebSocketSession>& session,
                   const std::vector<uint8_t>& bytes) {
                record("binary:" + std::string(bytes.begin(), bytes.end()));
                session->writeBinary(bytes);
            },
            [this](const std::shared_ptr<WebSocketSession>&, const std::vector<uint8_t>& bytes) {
                record("pong:" + std::string(bytes.begin(), bytes.end()));
            },
            [this](const std::shared_ptr<WebSocketSession>&) {
                record("connected");
                if (connectedThrows) {
                    connectedThrows();
                }
            },
            [this](const std::shared_ptr<WebSocketSession>&) { record("disconnected"); });
        server->start(0, true, Priority::defaultPriority);
    }
    void TearDown() override { stopAndDrain(server); }

    std::unique_ptr<LoopbackClient> connect() {
        auto client = std::make_unique<LoopbackClient>(server->port());
        client->send("GET /ws HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
        std::string head = client->readHead();
        EXPECT_EQ(head.find("HTTP/1.1 101 Switching Protocols\r\n"), 0u);
        EXPECT_NE(head.find("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"),
                  std::string::npos);
        return client;
    }

    static ServerFrame next(LoopbackClient& client) {
        return readServerFrame([&](size_t n) { return client.readExactly(n); });
    }

    // Waits for the session's end: its close frame, then the connection's.
    static void expectClosed(LoopbackClient& client) {
        auto frame = next(client);
        EXPECT_EQ(frame.firstByte, 0x88);
        EXPECT_TRUE(client.closedByServer());
    }

    void record(const std::string& event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
        changed.notify_all();
    }

    void waitForDisconnects(long count) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] {
            return std::count(events.begin(), events.end(), "disconnected") >= count;
        });
    }

    std::vector<std::string> recorded() {
        std::lock_guard lock(mutex);
        return events;
    }

    std::shared_ptr<HttpServer> server;
    std::function<void()> connectedThrows; // set only while no session runs
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> events;
};

TEST_F(WebSocketServer, EchoFragmentsPingAndClose) {
    testing::internal::CaptureStdout();
    auto client = connect();
    client->send(clientFrame(0x81, "hi"));
    EXPECT_EQ(next(*client).payload, "hi");
    client->send(clientFrame(0x01, "one ") + clientFrame(0x00, "two ") +
                 clientFrame(0x80, "three"));
    EXPECT_EQ(next(*client).payload, "one two three");
    client->send(clientFrame(0x02, "b1") + clientFrame(0x89, "mid") + clientFrame(0x80, "b2"));
    auto pong = next(*client);
    EXPECT_EQ(pong.firstByte, 0x8A) << "a ping inside a fragmented message is answered at once";
    EXPECT_EQ(pong.payload, "mid");
    auto binary = next(*client);
    EXPECT_EQ(binary.firstByte, 0x82);
    EXPECT_EQ(binary.payload, "b1b2");
    std::string ping125(125, 'p');
    client->send(clientFrame(0x89, ping125));
    EXPECT_EQ(next(*client).payload, ping125);
    client->send(clientFrame(0x8A, "unasked"));
    client->send(clientFrame(0x81, std::string("nul\0after", 9)));
    EXPECT_EQ(next(*client).payload, std::string("nul\0after", 9)) << "a zero byte is text too";
    client->send(clientFrame(0x88, ""));
    expectClosed(*client);
    EXPECT_EQ(recorded(), (std::vector<std::string>{
                              "connected", "text:hi", "text:one two three", "binary:b1b2",
                              "pong:unasked", std::string("text:nul\0after", 14), "disconnected"}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "a close frame prints nothing";
}

TEST_F(WebSocketServer, FramesSentWithTheUpgradeRequestAreNotLost) {
    LoopbackClient client(server->port());
    client.send("GET /ws HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n" +
                clientFrame(0x81, "first") + clientFrame(0x82, "second"));
    EXPECT_EQ(client.readHead().find("HTTP/1.1 101 Switching Protocols\r\n"), 0u);
    EXPECT_EQ(next(client).payload, "first");
    EXPECT_EQ(next(client).payload, "second");
}

TEST_F(WebSocketServer, EachBadInputEndsItsSessionWithItsLine) {
    struct Case {
        std::string frames;
        std::string printed;
        std::string status = std::string("\x03\xEA", 2); // close status 1002
    };
    const std::string tooLong =
        "Protocol error: protocolError(\"Payload gretter than 125 octets.\")\n";
    const std::string interrupted = "Protocol error: protocolError(\"Continuing fragmented frame "
                                    "cannot have an operation code.\")\n";
    std::vector<Case> cases{
        {clientFrame(0xC1, "x"),
         "Protocol error: protocolError(\"Reserved frame bit has not been negociated.\")\n"},
        {clientFrame(0x81, "x", 0, false), "Unmasked frame: unMaskedFrame(\"A client must mask all "
                                           "frames that it sends to the server.\")\n"},
        {clientFrame(0x8B, "x"), "Unknown Op Code: unknownOpCode(\"11\")\n"},
        {clientFrame(0x81, "bad \xC3\x28"), "Invalid UTF8 character: invalidUTF8(\"\")\n",
         std::string("\x03\xEF", 2)},
        {clientFrame(0x89, std::string(126, 'p')), tooLong},
        {clientFrame(0x8A, std::string(126, 'p')), tooLong},
        {clientFrame(0x88, std::string(126, 'p')), tooLong},
        {clientFrame(0x01, "a") + clientFrame(0x81, "b"), interrupted},
        {clientFrame(0x01, "a") + clientFrame(0x02, "b"), interrupted},
        {clientFrame(0x01, "") + clientFrame(0x81, "b"), interrupted},
    };
    for (const auto& c : cases) {
        events.clear();
        testing::internal::CaptureStdout();
        auto client = connect();
        client->send(c.frames);
        auto close = next(*client);
        EXPECT_EQ(close.firstByte, 0x88);
        EXPECT_EQ(close.payload, c.status) << c.printed;
        EXPECT_TRUE(client->closedByServer());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
        EXPECT_EQ(recorded(), (std::vector<std::string>{"connected", "disconnected"}));
    }
}

TEST_F(WebSocketServer, StrayContinuationEndsTheSession) {
    auto client = connect();
    client->send(clientFrame(0x80, "stray"));
    EXPECT_TRUE(client->closedByServer()) << "the socket is closed before anything else is written";
    auto later = connect();
    later->send(clientFrame(0x81, "still serving"));
    EXPECT_EQ(next(*later).payload, "still serving");
}

TEST_F(WebSocketServer, PeerVanishingIsAnUnknownErrorAndStillDisconnects) {
    testing::internal::CaptureStdout();
    {
        auto client = connect();
        client->send(clientFrame(0x81, "bye"));
        EXPECT_EQ(next(*client).payload, "bye");
    }
    auto other = connect(); // served after the first session ended
    other->send(clientFrame(0x88, ""));
    expectClosed(*other);
    waitForDisconnects(2);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.find("Unkown error recvFailed("), 0u) << printed;
    auto seen = recorded();
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "disconnected"), 2);
}

TEST_F(WebSocketServer, WhateverACallbackThrowsTheSessionEndsWithOneDisconnect) {
    testing::internal::CaptureStdout();
    for (const std::string text : {"throw 42", "throw std"}) {
        events.clear();
        auto client = connect();
        client->send(clientFrame(0x81, text));
        // The session calls disconnected before its connection ends.
        expectClosed(*client);
        EXPECT_EQ(recorded(),
                  (std::vector<std::string>{"connected", "text:" + text, "disconnected"}));
    }
    for (auto thrower : std::vector<std::function<void()>>{
             [] { throw 42; }, [] { throw std::runtime_error("from connected"); }}) {
        events.clear();
        connectedThrows = thrower;
        auto client = connect();
        expectClosed(*client);
        connectedThrows = nullptr;
        EXPECT_EQ(recorded(), (std::vector<std::string>{"connected", "disconnected"}));
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Unkown error (not a std::exception)\nUnkown error from text\n"
              "Unkown error (not a std::exception)\nUnkown error from connected\n");
}

} // namespace vuzozar
