#include "tests/http/SocketPair.h"

#include "http/HttpParser.h"

#include <gtest/gtest.h>

using namespace vuzozar;

namespace {

// Parses the first request of `bytes`; the peer stays open, so a parser
// that read past the request would block rather than pass.
HttpRequestPtr parse(SocketPair& pair, std::string_view bytes) {
    pair.send(bytes);
    return HttpParser().readHttpRequest(*pair.socket);
}

HttpRequestPtr parse(std::string_view bytes) {
    SocketPair pair;
    return parse(pair, bytes);
}

std::string bodyOf(const HttpRequestPtr& request) {
    return std::string(request->body.begin(), request->body.end());
}

} // namespace

TEST(HttpParser, RequestLineTargetAndQuery) {
    auto request = parse("GET /a%20b?x=1+2&y HTTP/1.1\r\n\r\n");
    EXPECT_EQ(request->method, "GET");
    EXPECT_EQ(request->path, "/a%20b");
    EXPECT_EQ(request->queryParams, (QueryParams{{"x", "1+2"}, {"y", ""}}));
    EXPECT_TRUE(request->headers.empty());
    EXPECT_TRUE(request->body.empty());
    EXPECT_EQ(request->address, "") << "the server fills the address in";
    EXPECT_TRUE(request->params.empty());
}

TEST(HttpParser, TooFewTokensIsAnInvalidStatusLine) {
    try {
        parse("GET /\r\n\r\n");
        FAIL();
    } catch (const HttpParserError& error) {
        EXPECT_EQ(error, HttpParserError::invalidStatusLine("GET /"));
        EXPECT_FALSE(error == HttpParserError::invalidStatusLine("GET"));
        EXPECT_STREQ(error.what(), "invalidStatusLine(\"GET /\")");
    }
}

TEST(HttpParser, ConsecutiveSpacesGiveEmptyTokens) {
    auto request = parse("GET  / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(request->method, "GET");
    EXPECT_EQ(request->path, "");
    EXPECT_TRUE(request->queryParams.empty());
}

TEST(HttpParser, MethodAsSentAndExtraTokensIgnored) {
    auto request = parse("get /x HTTP/1.1 extra\r\n\r\n");
    EXPECT_EQ(request->method, "get");
    EXPECT_EQ(request->path, "/x");
}

TEST(HttpParser, TargetForms) {
    EXPECT_EQ(parse("GET http://example.com:8080/p/q?a=b HTTP/1.1\r\n\r\n")->path, "/p/q");
    EXPECT_EQ(parse("GET //host/only HTTP/1.1\r\n\r\n")->path, "/only");
    EXPECT_EQ(parse("GET /with#hash?k=v#w HTTP/1.1\r\n\r\n")->path, "/with#hash");
    EXPECT_EQ(parse("GET /with#hash?k=v#w HTTP/1.1\r\n\r\n")->queryParams,
              (QueryParams{{"k", "v#w"}}));
    EXPECT_EQ(parse("GET /caf\xE9 HTTP/1.1\r\n\r\n")->path, "/caf\xC3\xA9");
    EXPECT_EQ(parse("GET /a?x=1&x=2&&z HTTP/1.1\r\n\r\n")->queryParams,
              (QueryParams{{"x", "1"}, {"x", "2"}, {"", ""}, {"z", ""}}));
    EXPECT_TRUE(parse("GET /a? HTTP/1.1\r\n\r\n")->queryParams.empty());
    // References that cannot be parsed leave path and query empty.
    auto badPort = parse("GET //host:port/x?a=1 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(badPort->path, "");
    EXPECT_TRUE(badPort->queryParams.empty());
    EXPECT_EQ(parse("GET 1a:b/c HTTP/1.1\r\n\r\n")->path, "");
    EXPECT_EQ(parse("GET //a:b:80/x HTTP/1.1\r\n\r\n")->path, "") << "a host holds no colon";
    EXPECT_EQ(parse("GET //u@v@host/x HTTP/1.1\r\n\r\n")->path, "") << "nor an at sign";
    EXPECT_EQ(parse("GET //user:pw@host:/x HTTP/1.1\r\n\r\n")->path, "/x");
}

TEST(HttpParser, HeaderNamesLowercasedValuesTrimmedLaterWins) {
    auto request = parse("GET / HTTP/1.1\r\nHost: example\r\nHOST:   other  \r\n"
                         "Content-Type: text/plain; a=b:c\r\n::Leading: colons\r\n:::\r\n"
                         "Name :value\r\n\r\n");
    EXPECT_EQ(request->headers.at("host"), "other");
    EXPECT_EQ(request->headers.at("content-type"), "text/plain; a=b:c");
    EXPECT_EQ(request->headers.at("leading"), "colons");
    EXPECT_EQ(request->headers.at("name "), "value")
        << "a blank before the colon stays in the name";
    EXPECT_EQ(request->headers.size(), 4u);
}

TEST(HttpParser, SinglePieceLinesAreStoredUnderThemselves) {
    auto request = parse("GET / HTTP/1.1\r\nX-Empty:\r\nNo-Colon\r\n\r\n");
    EXPECT_EQ(request->headers.at("x-empty"), "X-Empty");
    EXPECT_EQ(request->headers.at("no-colon"), "No-Colon");
}

TEST(HttpParser, BareLineFeedsParseLikeCrLf) {
    auto request = parse("POST /p HTTP/1.1\nHost: h\nContent-Length: 2\n\nok");
    EXPECT_EQ(request->path, "/p");
    EXPECT_EQ(request->headers.at("host"), "h");
    EXPECT_EQ(bodyOf(request), "ok");
}

TEST(HttpParser, ContentLengthForms) {
    SocketPair pair;
    auto request =
        parse(pair, "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhelloGET /next HTTP/1.1\r\n\r\n");
    EXPECT_EQ(bodyOf(request), "hello");
    auto next = HttpParser().readHttpRequest(*pair.socket);
    EXPECT_EQ(next->path, "/next") << "the next request starts right after the body";

    EXPECT_EQ(bodyOf(parse("POST / HTTP/1.1\r\nContent-Length: +5\r\n\r\nhello")), "hello");
    EXPECT_TRUE(parse("POST / HTTP/1.1\r\nContent-Length: abc\r\n\r\n")->body.empty());
    EXPECT_TRUE(parse("POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n")->body.empty());
    EXPECT_TRUE(parse("POST / HTTP/1.1\r\nContent-Length: +-5\r\n\r\n")->body.empty());
    EXPECT_TRUE(
        parse("POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n")->body.empty());
    EXPECT_THROW(parse("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n"), HttpParserError);
    try {
        parse("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n");
    } catch (const HttpParserError& error) {
        EXPECT_EQ(error, HttpParserError::negativeContentLength());
    }
}

TEST(HttpParser, ContentLengthPastTheBoundEndsLikeAReadFailure) {
    SocketPair pair;
    std::string length = std::to_string(Socket::maxReadLength + 1);
    EXPECT_THROW(parse(pair, "POST / HTTP/1.1\r\nContent-Length: " + length + "\r\n\r\nx"),
                 SocketError);
}

TEST(HttpParser, PeerClosingMidRequestPropagatesTheSocketError) {
    SocketPair pair;
    pair.send("GET / HTTP/1.1\r\nHost: x\r\n");
    pair.closePeer();
    try {
        HttpParser().readHttpRequest(*pair.socket);
        FAIL();
    } catch (const SocketError& error) {
        EXPECT_EQ(error.kind(), SocketError::Kind::recvFailed);
    }
}

TEST(HttpParser, TooManyHeaderLinesEndLikeAReadFailure) {
    SocketPair pair;
    std::string request = "GET / HTTP/1.1\r\n";
    for (size_t i = 0; i <= HttpParser::maxHeaderLines; ++i) {
        request += "X-" + std::to_string(i) + ": v\r\n";
    }
    request += "\r\n";
    std::thread sender([&] { pair.send(request); });
    EXPECT_THROW(HttpParser().readHttpRequest(*pair.socket), SocketError);
    sender.join();

    std::string atTheBound = "GET / HTTP/1.1\r\n";
    for (size_t i = 0; i < HttpParser::maxHeaderLines; ++i) {
        atTheBound += "X-" + std::to_string(i) + ": v\r\n";
    }
    SocketPair other;
    std::thread otherSender([&] { other.send(atTheBound + "\r\n"); });
    EXPECT_EQ(HttpParser().readHttpRequest(*other.socket)->headers.size(),
              HttpParser::maxHeaderLines);
    otherSender.join();
}

TEST(HttpRequestTokens, CommaSeparatedTrimmedLowercased) {
    HttpRequest request;
    request.headers["connection"] = "keep-alive, Upgrade";
    request.headers["upgrade"] = " foo ,WebSocket ";
    EXPECT_TRUE(request.hasTokenForHeader("connection", "upgrade"));
    EXPECT_TRUE(request.hasTokenForHeader("connection", "keep-alive"));
    EXPECT_TRUE(request.hasTokenForHeader("upgrade", "websocket"));
    EXPECT_FALSE(request.hasTokenForHeader("upgrade", "WebSocket"))
        << "the token is not lowercased";
    EXPECT_FALSE(request.hasTokenForHeader("missing", "upgrade"));
    EXPECT_FALSE(request.hasTokenForHeader("Connection", "upgrade"));
}
