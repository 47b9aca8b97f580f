#pragma once

#include "http/CaseError.h"
#include "http/HttpRequest.h"
#include "http/Socket.h"

namespace vuzozar {

// A request that the parser refuses. Every case but negativeContentLength
// carries a text saying what was refused.
class HttpParserError : public CaseError {
public:
    enum class Kind {
        // Fewer than three tokens in the request line.
        invalidStatusLine,
        // A "content-length" of a minus sign and digits.
        negativeContentLength,
        // Any other "content-length" that is not plain digits, beyond 64
        // bits, or two that differ.
        invalidContentLength,
        // A "transfer-encoding": bodies in chunks (or any coding) are not
        // read, and guessing their end would lose them.
        unsupportedTransferEncoding,
        // A request target that is neither a path from "/" nor an absolute
        // URL, or that cannot be parsed.
        invalidTarget,
        // A control byte inside the request line or a header line (a tab is
        // allowed in header lines), or a blank in a header name.
        invalidCharacter,
        // A request line and header lines of more than
        // HttpParser::maxHeadLength bytes together, or more header lines
        // than HttpParser::maxHeaderLines.
        headTooLarge,
        // A "content-length" beyond the parser's bound on bodies.
        bodyTooLarge,
    };

    static HttpParserError invalidStatusLine(std::string line);
    static HttpParserError negativeContentLength();
    HttpParserError(Kind kind, std::string text);

    Kind kind() const { return kind_; }

    bool operator==(const HttpParserError& other) const {
        return kind_ == other.kind_ && message() == other.message();
    }

private:
    HttpParserError(Kind kind, std::optional<std::string> text);

    Kind kind_;
};

// Reads HTTP/1.1 requests: a request line, header lines up to an empty one,
// and a body only when "content-length" gives its length. It consumes
// nothing past the request, so the next request (or a WebSocket stream)
// starts exactly where it stops. Throws HttpParserError for a request that
// must be refused and the socket's errors; any thread, one socket at a time.
class HttpParser {
public:
    // Bodies longer than `maxBodyLength` (and than Socket::maxReadLength) are
    // refused as bodyTooLarge before any of their bytes is read.
    explicit HttpParser(int64_t maxBodyLength = Socket::maxReadLength);

    static constexpr size_t maxHeaderLines = 256;
    // The request line and the header lines together, line ends included.
    // A bound per line alone let one request hold 256 lines of 64 KiB each.
    static constexpr size_t maxHeadLength = size_t(64) << 10;

    HttpRequestPtr readHttpRequest(Socket& socket) const;

private:
    // `headLeft` is what the head may still take; each line read uses it up.
    HttpHeaders readHeaders(Socket& socket, size_t& headLeft) const;

    int64_t maxBodyLength_;
};

} // namespace vuzozar
