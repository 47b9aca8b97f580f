#include "tests/http/RecordingWriter.h"

#include "http/HttpResponse.h"
#include "http/HttpServer.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vuzozar {

namespace {

const std::string serverValue = "Vuzozar " + HttpServer::VERSION();

} // namespace

TEST(HttpResponseBody, TextLengthIsInBytesAndHasNoType) {
    auto response = HttpResponse::ok(HttpResponseBody::text("\xC3\xA9"));
    auto content = response.content();
    EXPECT_EQ(content.length, 2);
    EXPECT_EQ(writtenBy(content), "\xC3\xA9");
    EXPECT_EQ(response.headers(), (HttpHeaders{{"Server", serverValue}}));
    EXPECT_EQ(response.statusCode(), 200);
    EXPECT_EQ(response.reasonPhrase(), "OK");
}

TEST(HttpResponseBody, HtmlAndHtmlBody) {
    auto html = HttpResponse::ok(HttpResponseBody::html("<p>x</p>"));
    EXPECT_EQ(html.headers().at("Content-Type"), "text/html");
    EXPECT_EQ(writtenBy(html.content()), "<p>x</p>");

    auto body = HttpResponse::ok(HttpResponseBody::htmlBody("Hi"));
    auto content = body.content();
    EXPECT_EQ(content.length, 50);
    EXPECT_EQ(writtenBy(content), "<html><meta charset=\"UTF-8\"><body>Hi</body></html>");
    EXPECT_EQ(body.headers().count("Content-Type"), 0u);
}

TEST(HttpResponseBody, JsonCompactAndInvalidObjects) {
    auto json = HttpResponse::ok(HttpResponseBody::json(JsonValue::Object{{"k", 1}}));
    EXPECT_EQ(json.headers().at("Content-Type"), "application/json");
    EXPECT_EQ(writtenBy(json.content()), "{\"k\":1}");

    JsonValue tree =
        JsonValue::Object{{"a", JsonValue::Array{true, false, nullptr, 2.5, "q\"\\\n\x01"}},
                          {"b", JsonValue::Object{}},
                          {"c", int64_t(-7)}};
    EXPECT_EQ(writtenBy(HttpResponseBody::json(tree).content()),
              "{\"a\":[true,false,null,2.5,\"q\\\"\\\\\\n\\u0001\"],\"b\":{},\"c\":-7}");

    auto bare = HttpResponse::ok(HttpResponseBody::json("just a string"));
    auto content = bare.content();
    EXPECT_EQ(writtenBy(content), "Serialisation error: invalidObject");
    EXPECT_EQ(content.length, 34);
    EXPECT_EQ(bare.statusCode(), 200);
    EXPECT_EQ(bare.headers().at("Content-Type"), "application/json");

    auto notANumber = HttpResponseBody::json(JsonValue::Array{std::nan("")});
    EXPECT_EQ(writtenBy(notANumber.content()), "Serialisation error: invalidObject");

    auto notUtf8 = HttpResponseBody::json(JsonValue::Array{std::string("caf\xE9")});
    EXPECT_EQ(writtenBy(notUtf8.content()), "Serialisation error: invalidObject");
    auto notUtf8Key = HttpResponseBody::json(JsonValue::Object{{"\xFF", 1}});
    EXPECT_EQ(writtenBy(notUtf8Key.content()), "Serialisation error: invalidObject");
    auto utf8 = HttpResponseBody::json(JsonValue::Array{"caf\xC3\xA9"});
    EXPECT_EQ(writtenBy(utf8.content()), "[\"caf\xC3\xA9\"]");
}

TEST(HttpResponseBody, DataWithAndWithoutContentType) {
    std::vector<uint8_t> png{0x89, 'P', 'N', 'G'};
    auto typed = HttpResponse::ok(HttpResponseBody::data(png, "image/png"));
    EXPECT_EQ(typed.headers().at("Content-Type"), "image/png");
    EXPECT_EQ(typed.content().length, 4);
    EXPECT_EQ(writtenBy(typed.content()), "\x89PNG");
    EXPECT_EQ(HttpResponse::ok(HttpResponseBody::data(png)).headers().count("Content-Type"), 0u);
}

TEST(HttpResponseBody, CustomRunsAtOnceAndReportsItsError) {
    int calls = 0;
    auto body = HttpResponseBody::custom(21, [&calls](int value) {
        ++calls;
        return std::to_string(value * 2);
    });
    auto content = body.content();
    EXPECT_EQ(calls, 1) << "serialised when the content is asked for";
    EXPECT_EQ(writtenBy(content), "42");
    EXPECT_EQ(calls, 1) << "writing only sends the bytes made before";
    auto failing =
        HttpResponseBody::custom(std::string("x"), [](const std::string&) -> std::string {
            throw SerializationError(SerializationError::Kind::notSupported);
        });
    EXPECT_EQ(writtenBy(failing.content()), "Serialisation error: notSupported");
    EXPECT_EQ(HttpResponse::ok(std::move(failing)).headers().count("Content-Type"), 0u);
    auto oddThrow = HttpResponseBody::custom(0, [](int) -> std::string { throw 7; });
    EXPECT_EQ(writtenBy(oddThrow.content()), "Serialisation error: unknown error");
}

TEST(HttpResponseBody, WrittenWithOneCall) {
    RecordingWriter writer;
    HttpResponseBody::text("abc").content().write(writer);
    EXPECT_EQ(writer.writes, 1);
}

TEST(HttpResponse, Redirects) {
    auto permanent = HttpResponse::movedPermanently("/new");
    EXPECT_EQ(permanent.statusCode(), 301);
    EXPECT_EQ(permanent.reasonPhrase(), "Moved Permanently");
    EXPECT_EQ(permanent.headers(), (HttpHeaders{{"Server", serverValue}, {"Location", "/new"}}));
    EXPECT_EQ(permanent.content().length, -1);
    EXPECT_FALSE(permanent.content().write);

    auto temporary = HttpResponse::movedTemporarily("http://x/");
    EXPECT_EQ(temporary.statusCode(), 307);
    EXPECT_EQ(temporary.reasonPhrase(), "Moved Temporarily");
    EXPECT_EQ(temporary.headers().at("Location"), "http://x/");
}

TEST(HttpResponse, BadRequestWithAndWithoutBody) {
    auto withBody = HttpResponse::badRequest(HttpResponseBody::text("why"));
    EXPECT_EQ(withBody.statusCode(), 400);
    EXPECT_EQ(withBody.reasonPhrase(), "Bad Request");
    EXPECT_EQ(withBody.content().length, 3);
    EXPECT_EQ(writtenBy(withBody.content()), "why");
    EXPECT_EQ(withBody.headers(), (HttpHeaders{{"Server", serverValue}}));
    EXPECT_EQ(
        HttpResponse::badRequest(HttpResponseBody::html("<b>")).headers().count("Content-Type"),
        0u);
    auto without = HttpResponse::badRequest();
    EXPECT_EQ(without.content().length, -1);
    EXPECT_FALSE(without.content().write);
}

TEST(HttpResponse, RawResponses) {
    auto raw = HttpResponse::raw(299, "Whatever", HttpHeaders{{"X-A", "1"}});
    EXPECT_EQ(raw.statusCode(), 299);
    EXPECT_EQ(raw.reasonPhrase(), "Whatever");
    EXPECT_EQ(raw.headers(), (HttpHeaders{{"Server", serverValue}, {"X-A", "1"}}));
    EXPECT_EQ(raw.content().length, -1);
    EXPECT_FALSE(raw.content().write);

    auto replacing = HttpResponse::raw(200, "OK", HttpHeaders{{"Server", "mine"}});
    EXPECT_EQ(replacing.headers(), (HttpHeaders{{"Server", "mine"}}));

    auto written = HttpResponse::raw(200, "OK", std::nullopt, [](HttpResponseBodyWriter& writer) {
        std::string text = "test";
        writer.write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    });
    EXPECT_EQ(written.content().length, -1);
    EXPECT_EQ(writtenBy(written.content()), "test");
}

TEST(HttpResponse, SwitchProtocolsHeadersWin) {
    bool called = false;
    auto response =
        HttpResponse::switchProtocols(HttpHeaders{{"Upgrade", "WebSocket"}, {"Server", "ws"}},
                                      [&](std::shared_ptr<Socket>) { called = true; });
    EXPECT_EQ(response.statusCode(), 101);
    EXPECT_EQ(response.reasonPhrase(), "Switching Protocols");
    EXPECT_EQ(response.headers(), (HttpHeaders{{"Server", "ws"}, {"Upgrade", "WebSocket"}}));
    EXPECT_EQ(response.content().length, -1);
    response.socketHandler()(nullptr);
    EXPECT_TRUE(called);
}

TEST(HttpResponse, PlainStatusesCarryOnlyTheServerHeader) {
    struct Expected {
        HttpResponse response;
        int code;
        const char* phrase;
    };
    std::vector<Expected> all{
        {HttpResponse::created(), 201, "Created"},
        {HttpResponse::accepted(), 202, "Accepted"},
        {HttpResponse::unauthorized(), 401, "Unauthorized"},
        {HttpResponse::forbidden(), 403, "Forbidden"},
        {HttpResponse::notFound(), 404, "Not Found"},
        {HttpResponse::notAcceptable(), 406, "Not Acceptable"},
        {HttpResponse::tooManyRequests(), 429, "Too Many Requests"},
        {HttpResponse::internalServerError(), 500, "Internal Server Error"},
    };
    for (const auto& expected : all) {
        EXPECT_EQ(expected.response.statusCode(), expected.code);
        EXPECT_EQ(expected.response.reasonPhrase(), expected.phrase);
        EXPECT_EQ(expected.response.headers(), (HttpHeaders{{"Server", serverValue}}));
        EXPECT_EQ(expected.response.content().length, -1);
    }
}

TEST(HttpResponse, VersionIsTheModulesOwn) {
    EXPECT_FALSE(HttpServer::VERSION().empty());
    EXPECT_EQ(&HttpServer::VERSION(), &HttpServer::VERSION()) << "computed once";
}

} // namespace vuzozar
