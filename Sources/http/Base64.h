#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vuzozar {

// The standard Base64 text of RFC 4648: "+" and "/", "=" padding, no breaks.
// Any thread; returns a copy; throws only std::bad_alloc.
std::string toBase64(std::span<const uint8_t> bytes);

} // namespace vuzozar
