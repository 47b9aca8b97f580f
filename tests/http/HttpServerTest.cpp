#include "tests/http/LoopbackClient.h"
#include "tests/http/StopAndDrain.h"

#include "http/HttpParser.h"
#include "http/HttpServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vuzozar {

namespace {

HttpResponse text(const std::string& body) {
    return HttpResponse::ok(HttpResponseBody::text(body));
}

const std::string serverLine = "Server: Vuzozar " + HttpServer::VERSION() + "\r\n";

class RunningServer : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_shared<HttpServer>();
        server->listenAddressIPv4 = "127.0.0.1";
    }
    void TearDown() override { stopAndDrain(server); }

    int start() {
        server->start(0, true, Priority::defaultPriority);
        return server->port();
    }

    std::shared_ptr<HttpServer> server;
};

} // namespace

TEST_F(RunningServer, StartAndStopStates) {
    EXPECT_EQ(server->state(), HttpServerIO::HttpServerIOState::stopped);
    EXPECT_THROW(server->port(), SocketError) << "no port before the first start";
    EXPECT_THROW(server->isIPv4(), SocketError);
    EXPECT_FALSE(server->operating());
    server->stop(); // nothing to stop
    EXPECT_EQ(server->state(), HttpServerIO::HttpServerIOState::stopped);
    int port = start();
    EXPECT_NE(port, 0);
    EXPECT_TRUE(server->isIPv4());
    EXPECT_EQ(server->state(), HttpServerIO::HttpServerIOState::running);
    server->start(0, true); // already running: nothing happens
    EXPECT_EQ(server->port(), port);
    server->stop();
    EXPECT_EQ(server->state(), HttpServerIO::HttpServerIOState::stopped);
    EXPECT_THROW(LoopbackClient{port}, std::runtime_error) << "nobody listens after stop()";
    EXPECT_NE(start(), 0) << "a stopped server starts again";
}

TEST_F(RunningServer, StateChangesOnlyFromTheValueItRead) {
    server->setState(HttpServerIO::HttpServerIOState::stopping);
    EXPECT_EQ(server->state(), HttpServerIO::HttpServerIOState::stopping);
    server->setState(HttpServerIO::HttpServerIOState::stopped);
    EXPECT_EQ(server->state(), HttpServerIO::HttpServerIOState::stopped);
}

TEST_F(RunningServer, PortInUseThrowsThenAFreePortWorks) {
    int port = start();
    auto second = std::make_shared<HttpServer>();
    second->listenAddressIPv4 = "127.0.0.1";
    try {
        second->start(uint16_t(port), true);
        FAIL();
    } catch (const SocketError& error) {
        EXPECT_EQ(error.kind(), SocketError::Kind::bindFailed);
    }
    EXPECT_EQ(second->state(), HttpServerIO::HttpServerIOState::starting);
    second->start(0, true);
    EXPECT_TRUE(second->operating());
    EXPECT_NE(second->port(), port);
    second->stop();
}

TEST(HttpServerOwnership, StartNeedsASharedOwner) {
    HttpServer unowned;
    EXPECT_THROW(unowned.start(0, true), std::logic_error);
    EXPECT_FALSE(unowned.operating());
}

TEST_F(RunningServer, UnknownPathGetsTheBare404AndIsClosed) {
    int port = start();
    LoopbackClient client(port);
    client.send("GET /nothing HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_EQ(client.readToEnd(), "HTTP/1.1 404 Not Found\r\n" + serverLine + "\r\n");
}

TEST_F(RunningServer, KeepAliveOnlyForTheExactHeaderAndAKnownLength) {
    server->GET["/hello"] = [](const HttpRequestPtr&) { return text("hi"); };
    int port = start();
    LoopbackClient client(port);
    for (int i = 0; i < 3; ++i) {
        client.send("GET /hello HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
        EXPECT_EQ(client.readResponse(), "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n"
                                         "Connection: keep-alive\r\n" +
                                             serverLine + "\r\nhi");
    }
    client.send("GET /hello HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n");
    EXPECT_EQ(client.readToEnd(),
              "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n" + serverLine + "\r\nhi");

    LoopbackClient plain(port);
    plain.send("GET /hello HTTP/1.1\r\n\r\n");
    EXPECT_EQ(plain.readToEnd(),
              "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n" + serverLine + "\r\nhi");
}

TEST_F(RunningServer, RawResponseHasNoLengthAndEndsTheConnection) {
    (*server)["/raw"] = [](const HttpRequestPtr&) {
        return HttpResponse::raw(
            200, "OK", HttpHeaders{{"XXX-Custom-Header", "value"}},
            [](HttpResponseBodyWriter& writer) {
                std::string body = "test";
                writer.write(std::span(reinterpret_cast<const uint8_t*>(body.data()), body.size()));
            });
    };
    int port = start();
    LoopbackClient client(port);
    client.send("GET /raw HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_EQ(client.readToEnd(),
              "HTTP/1.1 200 OK\r\n" + serverLine + "XXX-Custom-Header: value\r\n\r\ntest");
}

TEST_F(RunningServer, HandlersSeeAddressParamsAndTheParsedRequest) {
    std::string seen;
    server->POST["/items/:id"] = [&seen](const HttpRequestPtr& request) {
        seen = request->method + " " + request->path + " " + request->address.value_or("none") +
               " " + request->params.at(":id") + " " +
               std::string(request->body.begin(), request->body.end());
        return HttpResponse::created();
    };
    int port = start();
    LoopbackClient client(port);
    client.send("POST /items/a%20b HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody");
    EXPECT_EQ(client.readToEnd(), "HTTP/1.1 201 Created\r\n" + serverLine + "\r\n");
    EXPECT_EQ(seen, "POST /items/a%20b 127.0.0.1 a b body");
}

TEST_F(RunningServer, MethodRoutesAndTheirTwins) {
    server->DELETE["/d"] = [](const HttpRequestPtr&) { return text("DELETE"); };
    server->patch["/p"] = [](const HttpRequestPtr&) { return text("patch"); };
    server->delete_["/d2"] = [](const HttpRequestPtr&) { return text("delete_"); };
    HttpRequestHandler read = server->GET["/d"];
    EXPECT_FALSE(read) << "reading a route yields no handler";
    EXPECT_EQ(server->delete_.method, "DELETE");
    EXPECT_EQ(server->put.method, "PUT");
    EXPECT_EQ(server->head.router, server->router);
    int port = start();
    auto ask = [port](const std::string& requestLine) {
        LoopbackClient client(port);
        client.send(requestLine + "\r\n\r\n");
        return client.readToEnd();
    };
    EXPECT_NE(ask("DELETE /d HTTP/1.1").find("\r\n\r\nDELETE"), std::string::npos);
    EXPECT_NE(ask("PATCH /p HTTP/1.1").find("\r\n\r\npatch"), std::string::npos);
    EXPECT_NE(ask("DELETE /d2 HTTP/1.1").find("\r\n\r\ndelete_"), std::string::npos);
    EXPECT_EQ(ask("GET /d HTTP/1.1").find("HTTP/1.1 404"), 0u);
    EXPECT_EQ(server->routes().size(), 3u);
}

TEST_F(RunningServer, MiddlewareShortCircuitsAndNotFoundHandlerAnswersTheRest) {
    std::atomic<int> middlewareCalls{0};
    server->middleware.push_back([&](const HttpRequestPtr&) -> std::optional<HttpResponse> {
        ++middlewareCalls;
        return std::nullopt;
    });
    server->middleware.push_back([](const HttpRequestPtr& request) -> std::optional<HttpResponse> {
        if (request->path == "/blocked") {
            return HttpResponse::forbidden();
        }
        return std::nullopt;
    });
    server->GET["/blocked"] = [](const HttpRequestPtr&) { return text("never"); };
    server->GET["/open"] = [](const HttpRequestPtr&) { return text("open"); };
    server->notFoundHandler = [](const HttpRequestPtr& request) {
        EXPECT_TRUE(request->params.empty());
        return text("missing " + request->path);
    };
    int port = start();
    auto ask = [port](const std::string& requestLine) {
        LoopbackClient client(port);
        client.send(requestLine + "\r\n\r\n");
        return client.readToEnd();
    };
    EXPECT_EQ(ask("GET /blocked HTTP/1.1").find("HTTP/1.1 403 Forbidden"), 0u);
    EXPECT_NE(ask("GET /open HTTP/1.1").find("\r\n\r\nopen"), std::string::npos);
    EXPECT_NE(ask("POST /open HTTP/1.1").find("\r\n\r\nmissing /open"), std::string::npos)
        << "a path routed only under another method";
    EXPECT_EQ(middlewareCalls.load(), 3);
}

TEST_F(RunningServer, StopClosesKeptAliveConnections) {
    server->GET["/"] = [](const HttpRequestPtr&) { return text("x"); };
    int port = start();
    LoopbackClient client(port);
    client.send("GET / HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_NE(client.readResponse().find("\r\n\r\nx"), std::string::npos);
    server->stop();
    EXPECT_TRUE(client.closedByServer());
}

TEST_F(RunningServer, MalformedRequestsEndOnlyTheirConnection) {
    server->GET["/"] = [](const HttpRequestPtr&) { return text("fine"); };
    int port = start();
    const std::string refused =
        "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n" + serverLine + "\r\n";
    LoopbackClient bad(port);
    bad.send("NONSENSE\r\n\r\n");
    EXPECT_EQ(bad.readToEnd(), refused);
    LoopbackClient negative(port);
    negative.send("GET / HTTP/1.1\r\nContent-Length: -3\r\n\r\n");
    EXPECT_EQ(negative.readToEnd(), refused)
        << "answered and closed although the peer keeps its side open";
    LoopbackClient good(port);
    good.send("GET / HTTP/1.1\r\n\r\n");
    EXPECT_NE(good.readToEnd().find("fine"), std::string::npos);
}

TEST_F(RunningServer, AHeadPastItsBoundIsRefusedWith431AndClosed) {
    server->GET["/hello"] = [](const HttpRequestPtr&) { return text("hi"); };
    int port = start();
    const std::string requestLine = "GET /hello HTTP/1.1\r\n";
    auto headerLines = [](size_t count, size_t length) {
        std::string lines;
        for (size_t i = 0; i < count; ++i) {
            lines += "X-" + std::to_string(i) + ": " + std::string(length, 'v') + "\r\n";
        }
        return lines;
    };
    // Each line and the number of lines within their own bounds.
    for (const auto& lines : {headerLines(2, 60000), headerLines(200, 400)}) {
        LoopbackClient client(port);
        client.send(requestLine + lines + "\r\n");
        EXPECT_EQ(client.readToEnd(), "HTTP/1.1 431 Request Header Fields Too Large\r\n"
                                      "Connection: close\r\n" +
                                          serverLine + "\r\n");
    }
    // The bound itself, with the empty line that ends the head, is served.
    const std::string fill = "X-Fill: ";
    const size_t atBound = HttpParser::maxHeadLength - requestLine.size() - fill.size() - 4;
    LoopbackClient client(port);
    client.send(requestLine + fill + std::string(atBound, 'f') + "\r\n\r\n");
    EXPECT_NE(client.readToEnd().find("\r\n\r\nhi"), std::string::npos);
    LoopbackClient past(port);
    past.send(requestLine + fill + std::string(atBound + 1, 'f') + "\r\n\r\n");
    EXPECT_EQ(past.readToEnd().find("HTTP/1.1 431 "), 0u);
}

TEST_F(RunningServer, ThrowingHandlerAnswers500) {
    server->GET["/boom"] = [](const HttpRequestPtr&) -> HttpResponse {
        throw std::runtime_error("boom");
    };
    int port = start();
    LoopbackClient client(port);
    client.send("GET /boom HTTP/1.1\r\n\r\n");
    EXPECT_EQ(client.readToEnd(), "HTTP/1.1 500 Internal Server Error\r\n" + serverLine + "\r\n");
}

TEST_F(RunningServer, ThrowingMiddlewareOrNonStandardThrowAnswers500) {
    server->middleware.push_back([](const HttpRequestPtr& request) -> std::optional<HttpResponse> {
        if (request->path == "/guarded") {
            throw std::runtime_error("middleware");
        }
        return std::nullopt;
    });
    server->GET["/odd"] = [](const HttpRequestPtr&) -> HttpResponse { throw 42; };
    server->GET["/fine"] = [](const HttpRequestPtr&) { return text("fine"); };
    int port = start();
    for (const char* path : {"/guarded", "/odd"}) {
        LoopbackClient client(port);
        client.send(std::string("GET ") + path + " HTTP/1.1\r\n\r\n");
        EXPECT_EQ(client.readToEnd(),
                  "HTTP/1.1 500 Internal Server Error\r\n" + serverLine + "\r\n")
            << path;
    }
    LoopbackClient after(port);
    after.send("GET /fine HTTP/1.1\r\n\r\n");
    EXPECT_NE(after.readToEnd().find("\r\n\r\nfine"), std::string::npos);
}

TEST_F(RunningServer, ThrowingProtocolHandlerOnlyEndsItsConnection) {
    (*server)["/switch"] = [](const HttpRequestPtr&) {
        return HttpResponse::switchProtocols(
            HttpHeaders{}, [](std::shared_ptr<Socket>) { throw std::runtime_error("handler"); });
    };
    server->GET["/fine"] = [](const HttpRequestPtr&) { return text("fine"); };
    int port = start();
    LoopbackClient client(port);
    client.send("GET /switch HTTP/1.1\r\n\r\n");
    EXPECT_EQ(client.readToEnd(), "HTTP/1.1 101 Switching Protocols\r\n" + serverLine + "\r\n");
    LoopbackClient after(port);
    after.send("GET /fine HTTP/1.1\r\n\r\n");
    EXPECT_NE(after.readToEnd().find("\r\n\r\nfine"), std::string::npos);
}

TEST_F(RunningServer, FailingBodyWriterIsPrintedAndEndsTheConnection) {
    server->GET["/fails"] = [](const HttpRequestPtr&) {
        return HttpResponse::raw(200, "OK", std::nullopt, [](HttpResponseBodyWriter& writer) {
            const uint8_t part[] = {'p', 'a', 'r', 't'};
            writer.write(part);
            throw SocketError(SocketError::Kind::writeFailed, "gone");
        });
    };
    int port = start();
    testing::internal::CaptureStdout();
    LoopbackClient client(port);
    client.send("GET /fails HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_EQ(client.readToEnd(), "HTTP/1.1 200 OK\r\n" + serverLine + "\r\npart")
        << "a keep-alive request does not keep a connection whose response was cut short";
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Failed to send response: writeFailed(\"gone\")\n"), std::string::npos);
}

TEST_F(RunningServer, SwitchProtocolsHandsTheConnectionOver) {
    struct Recorder : HttpServerIODelegate {
        void connectionHandedOver(const std::shared_ptr<Socket>& socket) override {
            handedOver = socket;
        }
        std::shared_ptr<Socket> handedOver;
    };
    auto recorder = std::make_shared<Recorder>();
    server->delegate = recorder;
    std::shared_ptr<Socket> handled;
    (*server)["/switch"] = [&handled](const HttpRequestPtr&) {
        return HttpResponse::switchProtocols(HttpHeaders{{"Upgrade", "echo"}},
                                             [&handled](std::shared_ptr<Socket> socket) {
                                                 handled = socket;
                                                 socket->writeUTF8(socket->readLine() + "!");
                                             });
    };
    int port = start();
    LoopbackClient client(port);
    client.send("GET /switch HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_EQ(client.readHead(),
              "HTTP/1.1 101 Switching Protocols\r\n" + serverLine + "Upgrade: echo\r\n\r\n");
    client.send("hello\n");
    EXPECT_EQ(client.readToEnd(), "hello!") << "closed after the handler returns";
    ASSERT_TRUE(handled);
    EXPECT_EQ(recorder->handedOver, handled);
    EXPECT_TRUE(handled->isClosed());
}

TEST_F(RunningServer, IdleConnectionsTimeOutAndConnectionsPastTheCapAreRefused) {
    using namespace std::chrono_literals;
    server->setIdleTimeout(300ms);
    server->setMaxConnections(2);
    server->GET["/hello"] = [](const HttpRequestPtr&) { return text("hi"); };
    (*server)["/switch"] = [](const HttpRequestPtr&) {
        return HttpResponse::switchProtocols(HttpHeaders{}, [](std::shared_ptr<Socket> socket) {
            socket->writeUTF8(socket->readLine() + "!");
        });
    };
    int port = start();
    {
        LoopbackClient silent(port);
        LoopbackClient halfway(port);
        halfway.send("GET /hello HTTP/1.1\r\nHost: x\r\n");
        LoopbackClient third(port);
        EXPECT_EQ(third.readToEnd().find("HTTP/1.1 503 Service Unavailable\r\n"), 0u);
        EXPECT_EQ(silent.readToEnd(), "") << "closed after waiting for a request";
        EXPECT_EQ(halfway.readToEnd(), "") << "closed after waiting for the rest of its head";
    }
    LoopbackClient kept(port);
    kept.send("GET /hello HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_NE(kept.readResponse().find("\r\n\r\nhi"), std::string::npos);
    EXPECT_EQ(kept.readToEnd(), "") << "closed after waiting for its next request";

    // An upgraded connection is exempt: it may stay silent past the time-out.
    LoopbackClient upgraded(port);
    upgraded.send("GET /switch HTTP/1.1\r\n\r\n");
    EXPECT_EQ(upgraded.readHead().find("HTTP/1.1 101 "), 0u);
    std::this_thread::sleep_for(900ms);
    upgraded.send("late\n");
    EXPECT_EQ(upgraded.readToEnd(), "late!");
}

TEST_F(RunningServer, ManyConnectionsAtOnce) {
    server->GET["/n/:n"] = [](const HttpRequestPtr& request) {
        return text(request->params.at(":n"));
    };
    int port = start();
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (int i = 0; i < 50; ++i) {
        clients.push_back(std::make_unique<LoopbackClient>(port));
        clients.back()->send("GET /n/" + std::to_string(i) +
                             " HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
    }
    for (int i = 0; i < 50; ++i) {
        std::string response = clients[size_t(i)]->readResponse();
        EXPECT_EQ(response.substr(response.size() - std::to_string(i).size()), std::to_string(i));
    }
}

} // namespace vuzozar
