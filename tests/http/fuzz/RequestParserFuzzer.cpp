// Feeds arbitrary bytes as one connection's input to the request parser, the
// form decoders and the router, as the server's connection loop would; once
// in as few reads as the kernel likes and once in small pieces, one read
// each, which must parse alike: the read-ahead buffer may not lose, repeat
// or reorder a byte at any boundary (inside a head, between pipelined
// requests, inside a body).
#include "tests/http/fuzz/PeerFeed.h"

#include "http/HttpParser.h"
#include "http/HttpRouter.h"

#include <cstdlib>
#include <string>

namespace vuzozar {

namespace {

constexpr size_t maxInput = 65536;

HttpRouter& router() {
    static HttpRouter* routes = [] {
        auto* router = new HttpRouter;
        auto answer = [](const HttpRequestPtr&) { return HttpResponse::notFound(); };
        for (const char* path :
             {"/", "/a/:x", "/a/b", "/x/**/y", "/w/*/v", "/handoff/:token/stream"}) {
            router->register_("GET", path, answer);
            router->register_(std::nullopt, path, answer);
        }
        return router;
    }();
    return *routes;
}

// Every request the connection holds, as text, and how reading ended.
std::string parseAll(std::string_view input, PeerFeed::Delivery delivery) {
    PeerFeed feed(std::string(input), delivery, PeerFeed::Replies::none);
    HttpParser parser;
    std::string parsed;
    try {
        while (true) {
            auto request = parser.readHttpRequest(*feed.socket);
            parsed += request->method + ' ' + request->path + '\n';
            for (const auto& [name, value] : request->queryParams) {
                parsed += name + '=' + value + '&';
            }
            for (const auto& [name, value] : request->headers) {
                parsed += name + ':' + value + '\n';
            }
            parsed.append(request->body.begin(), request->body.end());
            if (delivery == PeerFeed::Delivery::whole) {
                request->parseUrlencodedForm();
                for (const auto& part : request->parseMultiPartFormData()) {
                    part.name();
                    part.fileName();
                }
                request->hasTokenForHeader("connection", "upgrade");
                router().route(request->method, request->path);
            }
        }
    } catch (const HttpParserError& error) {
        parsed += std::string("refused ") + error.what();
    } catch (const SocketError&) {
        parsed += "ended"; // the input is used up
    }
    return parsed;
}

} // namespace

} // namespace vuzozar

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vuzozar;
    if (size > maxInput) {
        return 0;
    }
    std::string_view input(reinterpret_cast<const char*>(data), size);
    if (parseAll(input, PeerFeed::Delivery::whole) != parseAll(input, PeerFeed::Delivery::split)) {
        std::abort(); // a byte was lost, repeated or moved at a read boundary
    }
    return 0;
}
