#include "http/HttpParser.h"

#include "http/Strings.h"

#include <charconv>

namespace vuzozar {

HttpParserError::HttpParserError(Kind kind, std::string_view caseName,
                                 std::optional<std::string> line)
    : CaseError(caseName, std::move(line)), kind_(kind) {}

HttpParserError HttpParserError::invalidStatusLine(std::string line) {
    return HttpParserError(Kind::invalidStatusLine, "invalidStatusLine", std::move(line));
}

HttpParserError HttpParserError::negativeContentLength() {
    return HttpParserError(Kind::negativeContentLength, "negativeContentLength", std::nullopt);
}

namespace {

bool isSchemeCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '-' || c == '.';
}

bool isDigits(std::string_view text) {
    return text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Splits a request target as an RFC 3986 reference into its path and query
// items, both as sent. The target is read as if every character outside the
// ones a URL query allows were percent-encoded first and path and query
// decoded once afterwards: the two cancel out, and "#" is never a fragment
// delimiter. A target that is no valid reference leaves both empty.
void parseTarget(std::string_view target, HttpRequest& request) {
    size_t delimiter = target.find_first_of(":/?");
    if (delimiter != std::string_view::npos && target[delimiter] == ':') {
        std::string_view scheme = target.substr(0, delimiter);
        bool validScheme = !scheme.empty() && std::isalpha(static_cast<unsigned char>(scheme[0])) &&
                           std::all_of(scheme.begin(), scheme.end(), isSchemeCharacter);
        if (!validScheme) {
            return; // a first path segment may not hold a colon
        }
        target.remove_prefix(delimiter + 1);
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
            return;
        }
        target.remove_prefix(end == std::string_view::npos ? target.size() : end);
    }
    size_t question = target.find('?');
    request.path = std::string(target.substr(0, question));
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

// A decimal integer with an optional sign, or nothing.
std::optional<int64_t> parseInteger(std::string_view text) {
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (text.empty() || text[0] == '-') {
            return std::nullopt;
        }
    }
    int64_t value;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

HttpRequestPtr HttpParser::readHttpRequest(Socket& socket) const {
    std::string line = socket.readLine();
    auto tokens = splitKeepingEmpty(line, ' ');
    if (tokens.size() < 3) {
        throw HttpParserError::invalidStatusLine(line);
    }
    auto request = std::make_shared<HttpRequest>();
    request->method = tokens[0];
    parseTarget(tokens[1], *request);
    request->headers = readHeaders(socket);
    auto contentLength = request->headers.find("content-length");
    if (contentLength != request->headers.end()) {
        if (auto length = parseInteger(contentLength->second)) {
            if (*length < 0) {
                throw HttpParserError::negativeContentLength();
            }
            request->body = socket.read(*length);
        }
    }
    return request;
}

HttpHeaders HttpParser::readHeaders(Socket& socket) const {
    HttpHeaders headers;
    for (size_t count = 0;; ++count) {
        std::string line = socket.readLine();
        if (line.empty()) {
            return headers;
        }
        if (count == maxHeaderLines) {
            throw SocketError(SocketError::Kind::recvFailed,
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
        std::string value =
            colon == std::string::npos || colon + 1 == line.size() ? name : line.substr(colon + 1);
        headers[lowercased(name)] = trim(value);
    }
}

} // namespace vuzozar
