#include "http/Strings.h"

namespace vuzozar {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool isWhitespaceByte(char c) {
    return asWhitespace(static_cast<unsigned char>(c)).has_value();
}

} // namespace

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    for (auto& piece : splitKeepingEmpty(text, separator)) {
        if (!piece.empty()) {
            pieces.push_back(std::move(piece));
        }
    }
    return pieces;
}

std::vector<std::string> splitKeepingEmpty(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (true) {
        size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            pieces.emplace_back(text.substr(start));
            return pieces;
        }
        pieces.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::string unquote(std::string_view text) {
    if (text.size() > 1 && text.front() == '"' && text.back() == '"') {
        return std::string(text.substr(1, text.size() - 2));
    }
    return std::string(text);
}

std::optional<uint8_t> asWhitespace(char32_t scalar) {
    if ((scalar >= 9 && scalar <= 13) || scalar == 32) {
        return static_cast<uint8_t>(scalar);
    }
    return std::nullopt;
}

std::string trim(std::string_view text) {
    size_t start = 0;
    size_t end = text.size();
    while (start < end && isWhitespaceByte(text[start])) {
        ++start;
    }
    while (end > start && isWhitespaceByte(text[end - 1])) {
        --end;
    }
    return std::string(text.substr(start, end - start));
}

std::string lowercased(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return result;
}

std::optional<char32_t> nextScalar(std::string_view bytes, size_t& at) {
    auto lead = static_cast<unsigned char>(bytes[at]);
    size_t length;
    char32_t value;
    if (lead < 0x80) {
        ++at;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
    } else {
        return std::nullopt;
    }
    if (at + length > bytes.size()) {
        return std::nullopt;
    }
    for (size_t k = 1; k < length; ++k) {
        auto next = static_cast<unsigned char>(bytes[at + k]);
        if ((next & 0xC0) != 0x80) {
            return std::nullopt;
        }
        value = (value << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return std::nullopt;
    }
    at += length;
    return value;
}

bool isValidUtf8(std::string_view bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
        if (!nextScalar(bytes, at)) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        int high = hexValue(text[i + 1]);
        int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (!isValidUtf8(decoded)) {
        return std::nullopt;
    }
    return decoded;
}

void appendLatin1(std::string& text, uint8_t byte) {
    if (byte < 0x80) {
        text += static_cast<char>(byte);
    } else {
        text += static_cast<char>(0xC0 | (byte >> 6));
        text += static_cast<char>(0x80 | (byte & 0x3F));
    }
}

} // namespace vuzozar
