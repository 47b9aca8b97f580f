// Pages as route handlers: the response, the buffer between requests, and
// many pages built at once on the server's connection threads.
#include "tests/http/LoopbackClient.h"
#include "tests/http/RecordingWriter.h"
#include "tests/http/StopAndDrain.h"

#include "http/HttpServer.h"
#include "http/SocketError.h"
#include "http/html/Attributes.h"
#include "http/html/Elements.h"
#include "http/html/Escape.h"
#include "http/html/ScopesBuffer.h"

#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>
#include <vector>

namespace vuzozar {

namespace {

// The body a page handler's response writes on this thread.
std::string bodyOf(const HttpResponse& response) {
    RecordingWriter writer;
    response.content().write(writer);
    EXPECT_EQ(writer.writes, 1);
    return writer.text;
}

class FailingWriter : public HttpResponseBodyWriter {
public:
    void write(const File&) override { fail(); }
    void write(std::span<const uint8_t>) override { fail(); }

private:
    [[noreturn]] static void fail() {
        throw SocketError(SocketError::Kind::writeFailed, "Broken pipe");
    }
};

// A page deep enough to take a while, whose attributes and texts all depend
// on `n`, so that two builds that mixed would show it.
void numberedPage(const std::string& n) {
    html([&] {
        body([&] {
            for (int row = 0; row < 20; ++row) {
                div([&] {
                    attr::idd = "d" + n + "-" + std::to_string(row);
                    a([&] {
                        attr::href = "/" + n;
                        span([&] {
                            attr::classs = "c" + n;
                            attr::inner = n;
                        });
                    });
                    attr::title = "t" + n;
                });
            }
        });
    });
}

std::string expectedNumberedPage(const std::string& n) {
    std::string text = "<!DOCTYPE html><html><body>";
    for (int row = 0; row < 20; ++row) {
        text += "<div id=\"d" + n + "-" + std::to_string(row) + "\" title=\"t" + n +
                "\"><a href=\"/" + n + "\"><span class=\"c" + n + "\">" + n + "</span></a></div>";
    }
    return text + "</body></html>";
}

} // namespace

TEST(HtmlScopes, AnswersTheThreadsPageAsRawHtml) {
    auto handler = scopes([] { html([] { body([] { p([] { attr::inner = "hi"; }); }); }); });
    auto response = handler(std::make_shared<HttpRequest>());
    EXPECT_EQ(response.kind(), HttpResponse::Kind::raw);
    EXPECT_EQ(response.statusCode(), 200);
    EXPECT_EQ(response.reasonPhrase(), "OK");
    EXPECT_EQ(response.headers().at("Content-Type"), "text/html");
    EXPECT_EQ(response.content().length, -1);
    EXPECT_EQ(bodyOf(response), "<!DOCTYPE html><html><body><p>hi</p></body></html>");
}

TEST(HtmlScopes, EachRequestStartsFromAnEmptyBuffer) {
    auto handler = scopes([] { h1([] { attr::inner = "caf\xC3\xA9"; }); });
    scopesBuffer() = "left over";
    std::string first = bodyOf(handler(std::make_shared<HttpRequest>()));
    std::string second = bodyOf(handler(std::make_shared<HttpRequest>()));
    EXPECT_EQ(first, "<!DOCTYPE html><h1>caf\xC3\xA9</h1>");
    EXPECT_EQ(second, first);
    EXPECT_EQ(bodyOf(scopes([] {})(std::make_shared<HttpRequest>())), "<!DOCTYPE html>");
}

TEST(HtmlScopes, AFailedWriteIsDropped) {
    auto response = scopes([] { p([] {}); })(std::make_shared<HttpRequest>());
    FailingWriter writer;
    EXPECT_NO_THROW(response.content().write(writer));
}

TEST(HtmlScopes, ABufferEntryEndsWithItsThread) {
    std::string* entry = nullptr;
    std::thread([&] {
        scopesBuffer() = "page";
        entry = &scopesBuffer();
    }).join();
    ASSERT_NE(entry, nullptr);
    EXPECT_NE(&scopesBuffer(), entry);
    EXPECT_EQ(scopesBuffer().find("page"), std::string::npos);
}

TEST(HtmlScopes, ConcurrentClientsEachGetTheirOwnPage) {
    constexpr int clients = 64;
    constexpr int rounds = 5;
    auto server = std::make_shared<HttpServer>();
    server->listenAddressIPv4 = "127.0.0.1";
    (*server)["/page/:n"] = [](const HttpRequestPtr& request) {
        std::string n = request->params.at(":n");
        return scopes([n] { numberedPage(n); })(request);
    };
    server->start(0, true, Priority::defaultPriority);
    int port = server->port();

    std::vector<std::string> bodies(clients * rounds);
    for (int round = 0; round < rounds; ++round) {
        std::latch start(clients);
        std::vector<std::thread> threads;
        for (int client = 0; client < clients; ++client) {
            threads.emplace_back([&, client] {
                LoopbackClient connection(port);
                start.arrive_and_wait();
                connection.send("GET /page/" + std::to_string(client) +
                                " HTTP/1.1\r\nHost: x\r\n\r\n");
                std::string response = connection.readToEnd();
                size_t end = response.find("\r\n\r\n");
                bodies[round * clients + client] =
                    end == std::string::npos ? response : response.substr(end + 4);
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
    }
    stopAndDrain(server);
    for (int index = 0; index < clients * rounds; ++index) {
        std::string n = std::to_string(index % clients);
        ASSERT_EQ(bodies[index], expectedNumberedPage(n)) << "client " << n;
    }
}

TEST(HtmlEscape, MakesMarkupText) {
    EXPECT_EQ(escapeHtml("<script>alert('x') & \"y\"</script>"),
              "&lt;script&gt;alert(&#39;x&#39;) &amp; &quot;y&quot;&lt;/script&gt;");
    EXPECT_EQ(escapeHtml("caf\xC3\xA9 /a b"), "caf\xC3\xA9 /a b");
    EXPECT_EQ(escapeHtml(""), "");
}

} // namespace vuzozar
