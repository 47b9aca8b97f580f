#include "audio/RingBuffer.h"

#include <algorithm>
#include <cstring>

namespace zivra::audio {

RingBuffer::RingBuffer(std::uint32_t capacity) {
    MirrorBufferInit(&buffer_, capacity);
}

RingBuffer::~RingBuffer() {
    MirrorBufferCleanup(&buffer_);
}

std::uint32_t RingBuffer::read(void* destination, std::uint32_t length) {
    std::uint32_t available = 0;
    const void* source = MirrorBufferGetReadPointer(&buffer_, &available);
    if (!source) {
        return 0;
    }
    const std::uint32_t count = std::min(available, length);
    std::memcpy(destination, source, count);
    MirrorBufferConsume(&buffer_, count);
    return count;
}

void RingBuffer::clear() {
    MirrorBufferClear(&buffer_);
}

} // namespace zivra::audio
