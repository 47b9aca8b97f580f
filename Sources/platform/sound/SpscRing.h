#pragma once

#include <atomic>
#include <cstddef>
#include <span>
#include <vector>

namespace zivra::platform::sound {

// Single-producer, single-consumer ring of samples. Storage is allocated once
// by the constructor; push and pop never allocate, lock or block, so the
// producer can be a real-time thread. Blocks go in and out whole or not at all.
// One producer thread and one consumer thread; size() from either. Only the
// constructor throws (std::bad_alloc); the spans are borrowed for the call.
// Not the mirrored ring: no reader needs one span across the wrap, and a vector never fails to map.
template <typename T> class SpscRing {
public:
    explicit SpscRing(std::size_t capacity) : buffer_(capacity) {}

    std::size_t capacity() const { return buffer_.size(); }
    std::size_t size() const {
        return written_.load(std::memory_order_acquire) - read_.load(std::memory_order_acquire);
    }

    // Producer: appends all of items, or nothing when they do not fit.
    bool push(std::span<const T> items) {
        const std::size_t written = written_.load(std::memory_order_relaxed);
        const std::size_t read = read_.load(std::memory_order_acquire);
        if (buffer_.size() - (written - read) < items.size()) {
            return false;
        }
        for (std::size_t i = 0; i < items.size(); ++i) {
            buffer_[(written + i) % buffer_.size()] = items[i];
        }
        written_.store(written + items.size(), std::memory_order_release);
        return true;
    }

    // Consumer: fills all of items, or takes nothing when fewer are stored.
    bool pop(std::span<T> items) {
        const std::size_t read = read_.load(std::memory_order_relaxed);
        const std::size_t written = written_.load(std::memory_order_acquire);
        if (written - read < items.size()) {
            return false;
        }
        for (std::size_t i = 0; i < items.size(); ++i) {
            items[i] = buffer_[(read + i) % buffer_.size()];
        }
        read_.store(read + items.size(), std::memory_order_release);
        return true;
    }

    // Consumer: drops everything stored.
    void clear() {
        read_.store(written_.load(std::memory_order_acquire), std::memory_order_release);
    }

private:
    std::vector<T> buffer_;
    std::atomic<std::size_t> written_{0};
    std::atomic<std::size_t> read_{0};
};

} // namespace zivra::platform::sound
