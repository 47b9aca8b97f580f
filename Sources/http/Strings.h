#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vuzozar {

// Text helpers of the module: pure functions on any thread, returning copies
// (appendLatin1 appends to the caller's string) and throwing only
// std::bad_alloc.

// Separator of path texts; settable, read by nothing in the module itself.
// Set it, if at all, before any thread reads it.
inline std::string pathSeparator = "/";

// The pieces of `text` between the separators, empty pieces dropped.
std::vector<std::string> split(std::string_view text, char separator);

// The pieces of `text` between the separators, empty pieces kept.
std::vector<std::string> splitKeepingEmpty(std::string_view text, char separator);

// `text` without one pair of surrounding double quotes; a text of one
// character, or one not both starting and ending with a quote, is unchanged.
std::string unquote(std::string_view text);

// The scalar's value when it is white space (9 to 13, or 32).
std::optional<uint8_t> asWhitespace(char32_t scalar);

// `text` without the white space (as `asWhitespace` has it) at both ends.
std::string trim(std::string_view text);

// `text` with the letters A to Z made lower case.
std::string lowercased(std::string_view text);

// The UTF-8 scalar that starts at byte `at` of `bytes` (which must lie
// inside), moving `at` past it; nothing, and `at` unmoved, when the bytes
// there are no well-formed UTF-8.
std::optional<char32_t> nextScalar(std::string_view bytes, size_t& at);

// Whether `bytes` are well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

// `text` with each "%" and two hexadecimal digits replaced by that byte;
// nothing when an escape is malformed or the result is not valid UTF-8.
std::optional<std::string> percentDecode(std::string_view text);

// Appends `byte` as the character U+0000 to U+00FF of the same value.
void appendLatin1(std::string& text, uint8_t byte);

} // namespace vuzozar
