#pragma once

#include <cstdint>
#include <string>

namespace vuzozar {

// A client frame as a browser sends it: masked with `mask`.
inline std::string clientFrame(uint8_t firstByte, const std::string& payload,
                               uint32_t mask = 0x37FA213D, bool masked = true) {
    std::string frame(1, char(firstByte));
    uint8_t maskBit = masked ? 0x80 : 0;
    if (payload.size() <= 125) {
        frame += char(maskBit | payload.size());
    } else if (payload.size() <= 0xFFFF) {
        frame += char(maskBit | 126);
        frame += char(payload.size() >> 8);
        frame += char(payload.size() & 0xFF);
    } else {
        frame += char(maskBit | 127);
        for (int shift = 56; shift >= 0; shift -= 8) {
            frame += char(uint64_t(payload.size()) >> shift);
        }
    }
    if (!masked) {
        return frame + payload;
    }
    uint8_t key[4] = {uint8_t(mask >> 24), uint8_t(mask >> 16), uint8_t(mask >> 8), uint8_t(mask)};
    frame.append(reinterpret_cast<char*>(key), 4);
    for (size_t i = 0; i < payload.size(); ++i) {
        frame += char(uint8_t(payload[i]) ^ key[i % 4]);
    }
    return frame;
}

struct ServerFrame {
    uint8_t firstByte = 0;
    std::string payload;
};

// Reads one unmasked server frame with `read(count)` giving exactly count bytes.
template <class Read> ServerFrame readServerFrame(Read read) {
    ServerFrame frame;
    std::string head = read(2);
    if (head.size() < 2) {
        return frame;
    }
    frame.firstByte = uint8_t(head[0]);
    uint64_t length = uint8_t(head[1]) & 0x7F;
    if (length >= 126) {
        std::string extended = read(length == 126 ? 2 : 8);
        length = 0;
        for (char byte : extended) {
            length = (length << 8) | uint8_t(byte);
        }
    }
    frame.payload = read(size_t(length));
    return frame;
}

} // namespace vuzozar
