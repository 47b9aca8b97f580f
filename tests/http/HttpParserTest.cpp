#include "tests/http/SocketPair.h"

#include "http/HttpParser.h"

#include <gtest/gtest.h>

namespace vuzozar {

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

// The kind of error with which the parser refuses the first request of
// `bytes`, or nothing when it reads one.
std::optional<HttpParserError::Kind> refusalOf(std::string_view bytes) {
    try {
        parse(bytes);
    } catch (const HttpParserError& error) {
        return error.kind();
    }
    return std::nullopt;
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
    EXPECT_EQ(parse("GET //user:pw@host:/x HTTP/1.1\r\n\r\n")->path, "/x");
    EXPECT_EQ(parse("GET http://host HTTP/1.1\r\n\r\n")->path, "");
}

TEST(HttpParser, TargetsThatDoNotParseAreRefused) {
    for (const char* target : {"", "hello", "*", "?x", "1a:b/c", "http:relative", "//host:port/x",
                               "//a:b:80/x", "//u@v@host/x", "http://[::1]:bad/x"}) {
        EXPECT_EQ(refusalOf("GET " + std::string(target) + " HTTP/1.1\r\n\r\n"),
                  HttpParserError::Kind::invalidTarget)
            << target;
    }
}

TEST(HttpParser, ControlBytesAndBlanksInNamesAreRefused) {
    using Kind = HttpParserError::Kind;
    for (std::string line :
         {std::string("GET /a\rb HTTP/1.1"), std::string("GET /a\tb HTTP/1.1"),
          std::string("GET /a\0b HTTP/1.1", 18), std::string("GET /a\x7F HTTP/1.1"),
          std::string("GET /a HTTP/1.1\r\r")}) {
        EXPECT_EQ(refusalOf(line + "\r\n\r\n"), Kind::invalidCharacter) << line;
    }
    for (std::string header : {std::string("X: a\rb"), std::string("X: a\0b", 7),
                               std::string("X: \x1B"), std::string("Name :value"),
                               std::string("Content-Length : 5"), std::string(" folded: x")}) {
        EXPECT_EQ(refusalOf("GET / HTTP/1.1\r\n" + header + "\r\n\r\n"), Kind::invalidCharacter)
            << header;
    }
    auto tabs = parse("GET / HTTP/1.1\r\nX:\ta\tb\t\r\n\r\n");
    EXPECT_EQ(tabs->headers.at("x"), "a\tb") << "a tab belongs in a header value";
}

TEST(HttpParser, HeaderNamesLowercasedValuesTrimmedLaterWins) {
    auto request = parse("GET / HTTP/1.1\r\nHost: example\r\nHOST:   other  \r\n"
                         "Content-Type: text/plain; a=b:c\r\n::Leading: colons\r\n:::\r\n\r\n");
    EXPECT_EQ(request->headers.at("host"), "other");
    EXPECT_EQ(request->headers.at("content-type"), "text/plain; a=b:c");
    EXPECT_EQ(request->headers.at("leading"), "colons");
    EXPECT_EQ(request->headers.size(), 3u);
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

    EXPECT_TRUE(parse("POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n")->body.empty());
    EXPECT_EQ(bodyOf(parse("POST / HTTP/1.1\r\nContent-Length: 2\r\ncontent-length: 2\r\n\r\nok")),
              "ok")
        << "the same length twice";
}

TEST(HttpParser, LengthsThatAreNoPlainNumberAndTransferCodingsAreRefused) {
    using Kind = HttpParserError::Kind;
    for (const char* value :
         {"+5", "abc", "+-5", "99999999999999999999999", "1e3", "0x10", "5 5", "5,5", "", "-"}) {
        EXPECT_EQ(
            refusalOf("POST / HTTP/1.1\r\nContent-Length: " + std::string(value) + "\r\n\r\nhello"),
            Kind::invalidContentLength)
            << value;
    }
    EXPECT_EQ(refusalOf("POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab"),
              Kind::invalidContentLength);
    EXPECT_EQ(refusalOf("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n"),
              Kind::negativeContentLength);
    EXPECT_EQ(refusalOf("POST / HTTP/1.1\r\nContent-Length: " +
                        std::to_string(Socket::maxReadLength + 1) + "\r\n\r\nx"),
              Kind::bodyTooLarge)
        << "refused before anything is read or set aside";
    EXPECT_EQ(
        refusalOf("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"),
        Kind::unsupportedTransferEncoding);
    EXPECT_EQ(
        refusalOf("POST / HTTP/1.1\r\nContent-Length: 3\r\nTransfer-Encoding: gzip\r\n\r\nabc"),
        Kind::unsupportedTransferEncoding);
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

TEST(HttpParser, TooManyHeaderLinesAreRefused) {
    SocketPair pair;
    std::string request = "GET / HTTP/1.1\r\n";
    for (size_t i = 0; i <= HttpParser::maxHeaderLines; ++i) {
        request += "X-" + std::to_string(i) + ": v\r\n";
    }
    request += "\r\n";
    std::thread sender([&] { pair.send(request); });
    try {
        HttpParser().readHttpRequest(*pair.socket);
        FAIL();
    } catch (const HttpParserError& error) {
        EXPECT_EQ(error.kind(), HttpParserError::Kind::headTooLarge);
    }
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

} // namespace vuzozar
