#include "http/HttpParser.h"

#include "http/Strings.h"

#include <algorithm>
#include <charconv>

namespace vuzozar {

namespace {

const char* caseName(HttpParserError::Kind kind) {
    switch (kind) {
    case HttpParserError::Kind::invalidStatusLine:
        return "invalidStatusLine";
    case HttpParserError::Kind::negativeContentLength:
        return "negativeContentLength";
    case HttpParserError::Kind::invalidContentLength:
        return "invalidContentLength";
    case HttpParserError::Kind::unsupportedTransferEncoding:
        return "unsupportedTransferEncoding";
    case HttpParserError::Kind::invalidTarget:
        return "invalidTarget";
    case HttpParserError::Kind::invalidCharacter:
        return "invalidCharacter";
    case HttpParserError::Kind::headTooLarge:
        return "headTooLarge";
    case HttpParserError::Kind::bodyTooLarge:
        return "bodyTooLarge";
    }
    return "unknown";
}

} // namespace

HttpParserError::HttpParserError(Kind kind, std::optional<std::string> text)
    : CaseError(caseName(kind), std::move(text)), kind_(kind) {}

HttpParserError::HttpParserError(Kind kind, std::string text)
    : HttpParserError(kind, std::optional(std::move(text))) {}

HttpParserError HttpParserError::invalidStatusLine(std::string line) {
    return HttpParserError(Kind::invalidStatusLine, std::move(line));
}

HttpParserError HttpParserError::negativeContentLength() {
    return HttpParserError(Kind::negativeContentLength, std::nullopt);
}

namespace {

bool isSchemeCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '-' || c == '.';
}

bool isDigits(std::string_view text) {
    return text.find_first_not_of("0123456789") == std::string_view::npos;
}

HttpParserError invalidTarget(std::string_view target) {
    return HttpParserError(HttpParserError::Kind::invalidTarget, std::string(target));
}

// Splits a request target, a path from "/" or an absolute URL, as an RFC
// 3986 reference into its path and query items, both as sent. The target
// is read as if every character outside the ones a URL query allows were
// percent-encoded first and path and query decoded once afterwards: the two
// cancel out, and "#" is never a fragment delimiter. Anything else, and a
// reference that does not parse, is refused: serving it as some other path
// could make it mean one thing to a proxy and another here.
void parseTarget(std::string_view target, HttpRequest& request) {
    std::string_view sent = target;
    size_t delimiter = target.find_first_of(":/?");
    if (delimiter != std::string_view::npos && target[delimiter] == ':') {
        std::string_view scheme = target.substr(0, delimiter);
        bool validScheme = !scheme.empty() && std::isalpha(static_cast<unsigned char>(scheme[0])) &&
                           std::all_of(scheme.begin(), scheme.end(), isSchemeCharacter);
        if (!validScheme) {
            throw invalidTarget(sent); // a first path segment may not hold a colon
        }
        target.remove_prefix(delimiter + 1);
    } else if (target.empty() || target[0] != '/') {
        throw invalidTarget(sent);
    }
    if (target.substr(0, 2) == "//") {
        size_t end = target.find_first_of("/?", 2);
        std::string_view authority =
            target.substr(2, end == std::string_view::npos ? target.npos : end - 2);
        // User information ends at the first "@"; a host holds neither "@"
        // nor ":" (the port starts at its first colon), and "[" stands for
        // an IP literal that the encoding of the target would have broken.
        std::string_view hostPort = authority.substr(authority.find('@') + 1);
        size_t colon = hostPort.find(':');
        if (hostPort.find_first_of("[@") != std::string_view::npos ||
            (colon != std::string_view::npos && !isDigits(hostPort.substr(colon + 1)))) {
            throw invalidTarget(sent);
        }
        target.remove_prefix(end == std::string_view::npos ? target.size() : end);
    }
    size_t question = target.find('?');
    std::string_view path = target.substr(0, question);
    if (!path.empty() && path[0] != '/') {
        throw invalidTarget(sent); // a scheme followed by a relative path
    }
    request.path = std::string(path);
    if (question == std::string_view::npos || question + 1 == target.size()) {
        return;
    }
    for (const auto& item : splitKeepingEmpty(target.substr(question + 1), '&')) {
        size_t equals = item.find('=');
        if (equals == std::string::npos) {
            request.queryParams.emplace_back(item, std::string());
        } else {
            request.queryParams.emplace_back(item.substr(0, equals), item.substr(equals + 1));
        }
    }
}

// The body's length, from the last "content-length" (the header reader
// makes sure that all of them agree), refused beyond `maxLength`.
int64_t contentLength(const std::string& value, int64_t maxLength) {
    std::string_view digits = value;
    bool negative = !digits.empty() && digits[0] == '-';
    if (negative) {
        digits.remove_prefix(1);
    }
    uint64_t length = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), length);
    if (digits.empty() || !isDigits(digits) || error != std::errc()) {
        throw HttpParserError(HttpParserError::Kind::invalidContentLength, value);
    }
    if (negative) {
        throw HttpParserError::negativeContentLength();
    }
    if (length > uint64_t(maxLength)) {
        throw HttpParserError(HttpParserError::Kind::bodyTooLarge, value);
    }
    return int64_t(length);
}

enum class LineKind { requestLine, headerLine };

// One line of the head, refused when it holds a control byte: dropping it
// would make the line mean something else here than to whoever else reads
// it. The line and its LF use up `headLeft`; a line that does not fit in
// what is left is refused before more of it is read. The CR of a CR LF
// ending goes; each other byte becomes the character of the same value.
std::string readLine(Socket& socket, LineKind kind, size_t& headLeft) {
    auto sent = headLeft > 0 ? socket.readLineAsSent(headLeft - 1) : std::nullopt;
    if (!sent) {
        throw HttpParserError(HttpParserError::Kind::headTooLarge,
                              "Request head longer than " +
                                  std::to_string(HttpParser::maxHeadLength) + " bytes");
    }
    headLeft -= sent->size() + 1;
    std::string_view bytes = *sent;
    if (!bytes.empty() && bytes.back() == '\r') {
        bytes.remove_suffix(1);
    }
    std::string line;
    line.reserve(bytes.size());
    for (char c : bytes) {
        auto byte = uint8_t(c);
        bool allowedTab = byte == '\t' && kind == LineKind::headerLine;
        if ((byte < 0x20 && !allowedTab) || byte == 0x7F) {
            throw HttpParserError(HttpParserError::Kind::invalidCharacter,
                                  "Control byte " + std::to_string(byte));
        }
        appendLatin1(line, byte);
    }
    return line;
}

} // namespace

HttpParser::HttpParser(int64_t maxBodyLength)
    : maxBodyLength_(std::clamp(maxBodyLength, int64_t(0), Socket::maxReadLength)) {}

HttpRequestPtr HttpParser::readHttpRequest(Socket& socket) const {
    size_t headLeft = maxHeadLength;
    std::string line = readLine(socket, LineKind::requestLine, headLeft);
    auto tokens = splitKeepingEmpty(line, ' ');
    if (tokens.size() < 3) {
        throw HttpParserError::invalidStatusLine(line);
    }
    auto request = std::make_shared<HttpRequest>();
    request->method = tokens[0];
    parseTarget(tokens[1], *request);
    request->headers = readHeaders(socket, headLeft);
    // A body this server cannot find the end of would be read as the next
    // request: refused, together with the connection.
    auto transferEncoding = request->headers.find("transfer-encoding");
    if (transferEncoding != request->headers.end()) {
        throw HttpParserError(HttpParserError::Kind::unsupportedTransferEncoding,
                              transferEncoding->second);
    }
    auto length = request->headers.find("content-length");
    if (length != request->headers.end()) {
        request->body = socket.read(contentLength(length->second, maxBodyLength_));
    }
    return request;
}

HttpHeaders HttpParser::readHeaders(Socket& socket, size_t& headLeft) const {
    HttpHeaders headers;
    for (size_t count = 0;; ++count) {
        std::string line = readLine(socket, LineKind::headerLine, headLeft);
        if (line.empty()) {
            return headers;
        }
        if (count == maxHeaderLines) {
            throw HttpParserError(HttpParserError::Kind::headTooLarge,
                                  "More than " + std::to_string(maxHeaderLines) + " header lines");
        }
        // The name ends at the first colon after some text; the value is
        // everything after that colon. A line with nothing after its colon
        // (or no colon) is stored under its own text.
        size_t start = line.find_first_not_of(':');
        if (start == std::string::npos) {
            continue;
        }
        size_t colon = line.find(':', start);
        std::string name =
            line.substr(start, colon == std::string::npos ? line.npos : colon - start);
        // "Content-Length : 5" is a length to some readers and an unknown
        // header to others; a line that starts with a blank continues the
        // one before it for some.
        if (name.find_first_of(" \t") != std::string::npos) {
            throw HttpParserError(HttpParserError::Kind::invalidCharacter,
                                  "Blank in header name " + name);
        }
        std::string value =
            colon == std::string::npos || colon + 1 == line.size() ? name : line.substr(colon + 1);
        name = lowercased(name);
        value = trim(value);
        auto earlier = headers.find(name);
        if (name == "content-length" && earlier != headers.end() && earlier->second != value) {
            throw HttpParserError(HttpParserError::Kind::invalidContentLength,
                                  earlier->second + ", " + value);
        }
        headers[name] = std::move(value);
    }
}

} // namespace vuzozar
