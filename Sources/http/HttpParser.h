#pragma once

#include "http/CaseError.h"
#include "http/HttpRequest.h"
#include "http/Socket.h"

namespace vuzozar {

class HttpParserError : public CaseError {
public:
    enum class Kind { invalidStatusLine, negativeContentLength };

    static HttpParserError invalidStatusLine(std::string line);
    static HttpParserError negativeContentLength();

    Kind kind() const { return kind_; }

    bool operator==(const HttpParserError& other) const {
        return kind_ == other.kind_ && message() == other.message();
    }

private:
    HttpParserError(Kind kind, std::string_view caseName, std::optional<std::string> line);

    Kind kind_;
};

// Reads HTTP/1.1 requests: a request line, header lines up to an empty one,
// and a body only when "content-length" gives its length. It reads nothing
// past the request, so the next request (or a WebSocket stream) starts
// exactly where it stops.
class HttpParser {
public:
    // A peer that sends more header lines than this fails like a broken
    // connection.
    static constexpr size_t maxHeaderLines = 256;

    HttpRequestPtr readHttpRequest(Socket& socket) const;

private:
    HttpHeaders readHeaders(Socket& socket) const;
};

} // namespace vuzozar
