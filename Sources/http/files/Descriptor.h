#pragma once

namespace vuzozar {

// Owns one file descriptor and closes it once, when destroyed; -1 owns
// nothing.
//
// Any thread, one at a time per object; moving hands the descriptor on;
// throws nothing.
class Descriptor {
public:
    explicit Descriptor(int descriptor = -1) : descriptor_(descriptor) {}
    ~Descriptor();
    Descriptor(Descriptor&& other) noexcept : descriptor_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return descriptor_; }
    explicit operator bool() const { return descriptor_ >= 0; }
    // Hands the descriptor to the caller, who closes it from then on.
    int release();

private:
    int descriptor_;
};

} // namespace vuzozar
