#include "http/Sha1.h"

#include <bit>
#include <cstdio>
#include <vector>

namespace vuzozar {

namespace {

void compressBlock(std::array<uint32_t, 5>& state, const uint8_t* block) {
    uint32_t w[80];
    for (int t = 0; t < 16; ++t) {
        w[t] = (uint32_t(block[4 * t]) << 24) | (uint32_t(block[4 * t + 1]) << 16) |
               (uint32_t(block[4 * t + 2]) << 8) | uint32_t(block[4 * t + 3]);
    }
    for (int t = 16; t < 80; ++t) {
        w[t] = std::rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (int t = 0; t < 80; ++t) {
        uint32_t f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        uint32_t temp = std::rotl(a, 5) + f + e + k + w[t];
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = temp;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

} // namespace

SHA1::Digest SHA1::hash(std::span<const uint8_t> message) {
    std::array<uint32_t, 5> state = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    size_t whole = message.size() / 64 * 64;
    for (size_t offset = 0; offset < whole; offset += 64) {
        compressBlock(state, message.data() + offset);
    }
    // The tail: the last bytes, the bit 1, zeros, and the bit length.
    std::vector<uint8_t> tail(message.begin() + whole, message.end());
    tail.push_back(0x80);
    while (tail.size() % 64 != 56) {
        tail.push_back(0);
    }
    uint64_t bits = uint64_t(message.size()) * 8;
    for (int shift = 56; shift >= 0; shift -= 8) {
        tail.push_back(uint8_t(bits >> shift));
    }
    for (size_t offset = 0; offset < tail.size(); offset += 64) {
        compressBlock(state, tail.data() + offset);
    }
    Digest digest;
    for (size_t i = 0; i < 5; ++i) {
        digest[4 * i] = uint8_t(state[i] >> 24);
        digest[4 * i + 1] = uint8_t(state[i] >> 16);
        digest[4 * i + 2] = uint8_t(state[i] >> 8);
        digest[4 * i + 3] = uint8_t(state[i]);
    }
    return digest;
}

SHA1::Digest sha1Digest(std::string_view text) {
    return SHA1::hash({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

std::string sha1(std::string_view text) {
    std::string hex;
    char pair[3];
    for (uint8_t byte : sha1Digest(text)) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

} // namespace vuzozar
