#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vuzozar {

// SHA-1 for the WebSocket handshake. Any thread; returns values; throws only
// std::bad_alloc.
struct SHA1 {
    using Digest = std::array<uint8_t, 20>;

    // The SHA-1 digest of FIPS 180-4, bytes in their standard order.
    static Digest hash(std::span<const uint8_t> message);
};

// The SHA-1 digest of the text's UTF-8 bytes.
SHA1::Digest sha1Digest(std::string_view text);

// The same digest as 40 lowercase hexadecimal digits.
std::string sha1(std::string_view text);

} // namespace vuzozar
