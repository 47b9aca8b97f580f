#include "http/Json.h"

#include "http/Strings.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace vuzozar {

namespace {

// False for a text that is not UTF-8, which JSON cannot carry.
bool appendString(std::string& text, const std::string& value) {
    if (!isValidUtf8(value)) {
        return false;
    }
    text += '"';
    for (char c : value) {
        switch (c) {
        case '"':
            text += "\\\"";
            break;
        case '\\':
            text += "\\\\";
            break;
        case '\n':
            text += "\\n";
            break;
        case '\r':
            text += "\\r";
            break;
        case '\t':
            text += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                text += escape;
            } else {
                text += c;
            }
        }
    }
    text += '"';
    return true;
}

} // namespace

std::optional<std::string> JsonValue::serialized() const {
    if (!std::holds_alternative<Array>(value_) && !std::holds_alternative<Object>(value_)) {
        return std::nullopt;
    }
    std::string text;
    if (!appendTo(text)) {
        return std::nullopt;
    }
    return text;
}

bool JsonValue::appendTo(std::string& text) const {
    if (std::holds_alternative<std::nullptr_t>(value_)) {
        text += "null";
    } else if (auto* flag = std::get_if<bool>(&value_)) {
        text += *flag ? "true" : "false";
    } else if (auto* integer = std::get_if<int64_t>(&value_)) {
        text += std::to_string(*integer);
    } else if (auto* number = std::get_if<double>(&value_)) {
        if (!std::isfinite(*number)) {
            return false;
        }
        char digits[32];
        auto result = std::to_chars(digits, digits + sizeof digits, *number);
        text.append(digits, result.ptr);
    } else if (auto* string = std::get_if<std::string>(&value_)) {
        return appendString(text, *string);
    } else if (auto* array = std::get_if<Array>(&value_)) {
        text += '[';
        for (size_t i = 0; i < array->size(); ++i) {
            if (i > 0) {
                text += ',';
            }
            if (!(*array)[i].appendTo(text)) {
                return false;
            }
        }
        text += ']';
    } else {
        text += '{';
        bool first = true;
        for (const auto& [key, value] : std::get<Object>(value_)) {
            if (!first) {
                text += ',';
            }
            first = false;
            if (!appendString(text, key)) {
                return false;
            }
            text += ':';
            if (!value.appendTo(text)) {
                return false;
            }
        }
        text += '}';
    }
    return true;
}

} // namespace vuzozar
