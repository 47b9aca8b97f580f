#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace vuzozar {

// A JSON value tree for response bodies: null, Boolean, integer or floating
// number, string, array, or object with string keys. A value that owns its
// children; any thread, one writer at a time; throws only std::bad_alloc.
class JsonValue {
public:
    using Array = std::vector<JsonValue>;
    using Object = std::map<std::string, JsonValue>;

    JsonValue() = default;
    JsonValue(std::nullptr_t) {}
    JsonValue(bool value) : value_(value) {}
    JsonValue(int value) : value_(int64_t(value)) {}
    JsonValue(int64_t value) : value_(value) {}
    JsonValue(double value) : value_(value) {}
    JsonValue(const char* value) : value_(std::string(value)) {}
    JsonValue(std::string value) : value_(std::move(value)) {}
    JsonValue(Array value) : value_(std::move(value)) {}
    JsonValue(Object value) : value_(std::move(value)) {}

    // Compact JSON text; nothing when the top level is neither an array nor
    // an object or the tree holds a number JSON cannot write (NaN, infinity)
    // or a string or key that is not UTF-8.
    std::optional<std::string> serialized() const;

private:
    bool appendTo(std::string& text) const;

    std::variant<std::nullptr_t, bool, int64_t, double, std::string, Array, Object> value_;
};

} // namespace vuzozar
