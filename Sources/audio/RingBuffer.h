#pragma once

#include "MirrorBuffer/C/MirrorBuffer.h"

#include <cstdint>

namespace zivra::audio {

// Owns one mirrored ring for exactly one producer and one consumer. A ring
// whose mapping failed has no storage: it stores nothing and reads nothing.
// Producers and the render path work on buffer() with the MirrorBuffer
// operations; read() serves consumers that want a copy. Destroyed only once
// neither side runs; the engine and its audio callbacks share theirs through
// shared_ptr, the Handoff streamer holds its own. buffer() is borrowed for the
// ring's lifetime. Nothing throws.
class RingBuffer {
public:
    explicit RingBuffer(std::uint32_t capacity);
    ~RingBuffer();
    RingBuffer(const RingBuffer&) = delete;
    RingBuffer& operator=(const RingBuffer&) = delete;

    MirrorBuffer& buffer() { return buffer_; }

    // Copies up to length stored bytes into destination in one pass and
    // consumes them; returns how many were copied (0 when nothing is stored).
    // The consumer's thread only.
    std::uint32_t read(void* destination, std::uint32_t length);

    // Discards everything stored; only while the producer is stopped.
    void clear();

private:
    MirrorBuffer buffer_{};
};

} // namespace zivra::audio
