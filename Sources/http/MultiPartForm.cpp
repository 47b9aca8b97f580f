#include "http/HttpRequest.h"

#include "http/Strings.h"

namespace vuzozar {

namespace {

// Reads the parts of a multipart body front to back.
class MultiPartReader {
public:
    MultiPartReader(const std::vector<uint8_t>& body, std::string delimiter)
        : body_(body), delimiter_(std::move(delimiter)) {}

    std::optional<HttpRequest::MultiPart> readPart(bool first) {
        auto opening = readLine();
        // Before the first part stands its delimiter line, so a preamble
        // fails; before a later one, the rest of the previous delimiter line.
        if (first && opening != delimiter_) {
            return std::nullopt;
        }
        HttpRequest::MultiPart part;
        while (auto line = readLine()) {
            if (line->empty()) {
                break;
            }
            // Exactly one colon: "A:" is a header with an empty value, and
            // "A::b" holds two colons like "A: b:c".
            auto pieces = splitKeepingEmpty(*line, ':');
            if (pieces.size() == 2) {
                part.headers[lowercased(pieces[0])] = trim(pieces[1]);
            }
        }
        auto content = readBody();
        if (!content) {
            return std::nullopt;
        }
        part.body = std::move(*content);
        return part;
    }

private:
    // The bytes up to and including the next LF (or the end), those up to
    // 13 dropped; nothing when they are not UTF-8.
    std::optional<std::string> readLine() {
        std::string line;
        while (cursor_ < body_.size()) {
            uint8_t byte = body_[cursor_++];
            if (byte > 13) {
                line += char(byte);
            }
            if (byte == 10) {
                break;
            }
        }
        if (!isValidUtf8(line)) {
            return std::nullopt;
        }
        return line;
    }

    // The bytes up to the next delimiter, without the line break before it.
    std::optional<std::vector<uint8_t>> readBody() {
        if (cursor_ >= body_.size()) {
            return std::nullopt;
        }
        std::vector<uint8_t> output;
        size_t matched = 0;
        while (cursor_ < body_.size()) {
            uint8_t byte = body_[cursor_++];
            matched = byte == uint8_t(delimiter_[matched]) ? matched + 1 : 0;
            output.push_back(byte);
            if (matched == delimiter_.size()) {
                output.resize(output.size() - delimiter_.size());
                if (!output.empty() && output.back() == 10) {
                    output.pop_back();
                    if (!output.empty() && output.back() == 13) {
                        output.pop_back();
                    }
                }
                return output;
            }
        }
        return std::nullopt;
    }

    const std::vector<uint8_t>& body_;
    std::string delimiter_;
    size_t cursor_ = 0;
};

// The first text of `parameter` among the ";"-separated pieces of the header.
std::optional<std::string> valueFor(const HttpHeaders& headers, const std::string& headerName,
                                    const std::string& parameter) {
    auto header = headers.find(headerName);
    if (header == headers.end()) {
        return std::nullopt;
    }
    for (const auto& piece : splitKeepingEmpty(header->second, ';')) {
        auto tokens = splitKeepingEmpty(trim(piece), '=');
        if (tokens.front() == parameter) {
            return tokens.back();
        }
    }
    return std::nullopt;
}

std::optional<std::string> unquoted(std::optional<std::string> text) {
    if (text) {
        return unquote(*text);
    }
    return text;
}

} // namespace

std::optional<std::string> HttpRequest::MultiPart::name() const {
    return unquoted(valueFor(headers, "content-disposition", "name"));
}

std::optional<std::string> HttpRequest::MultiPart::fileName() const {
    return unquoted(valueFor(headers, "content-disposition", "filename"));
}

std::vector<HttpRequest::MultiPart> HttpRequest::parseMultiPartFormData() const {
    auto contentType = headers.find("content-type");
    if (contentType == headers.end()) {
        return {};
    }
    auto pieces = splitKeepingEmpty(contentType->second, ';');
    for (auto& piece : pieces) {
        piece = trim(piece);
    }
    if (pieces.front() != "multipart/form-data") {
        return {};
    }
    std::string boundary;
    for (const auto& piece : pieces) {
        auto tokens = splitKeepingEmpty(piece, '=');
        if (tokens.size() == 2 && tokens[0] == "boundary") {
            boundary = tokens[1];
        }
    }
    if (boundary.empty()) {
        return {};
    }
    MultiPartReader reader(body, "--" + boundary);
    std::vector<MultiPart> parts;
    while (auto part = reader.readPart(parts.empty())) {
        parts.push_back(std::move(*part));
    }
    return parts;
}

} // namespace vuzozar
