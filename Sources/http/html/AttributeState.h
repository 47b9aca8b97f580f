#pragma once

#include "http/html/AttributeList.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vuzozar {

// The values of the attribute globals on one thread, with a mask of those
// that are set, so that an element saves, gathers and restores only what was
// set. Values keep their storage when they are cleared or set aside, so once
// a thread has built a page, building it again allocates nothing.
// Each thread has its own (current()); it is used on that thread only.
class AttributeState {
public:
    // Which slots hold a value: bit i%64 of word i/64 for slot i.
    using Mask = std::array<std::uint64_t, (attr::slotCount + 63) / 64>;

    // The calling thread's state, made empty on its first use and freed when
    // the thread ends.
    static AttributeState& current() noexcept {
        thread_local AttributeState state;
        return state;
    }

    // Throws only std::bad_alloc, when the slot's storage must grow.
    void set(attr::Slot slot, std::string_view value) {
        std::size_t index = static_cast<std::size_t>(slot);
        values_[index].assign(value);
        set_[index / 64] |= bitOf(index);
    }
    void reset(attr::Slot slot) noexcept {
        std::size_t index = static_cast<std::size_t>(slot);
        set_[index / 64] &= ~bitOf(index);
    }
    // The slot's value, or null when it is not set; valid until the slot
    // changes.
    const std::string* find(attr::Slot slot) const noexcept {
        std::size_t index = static_cast<std::size_t>(slot);
        return (set_[index / 64] & bitOf(index)) != 0 ? &values_[index] : nullptr;
    }

    // Sets every value aside and leaves none set; returns what was set, for
    // restore(). Throws only std::bad_alloc, and then changes nothing.
    Mask setAside() {
        Mask saved = set_;
        if (any(saved)) {
            moveAside(saved);
        }
        return saved;
    }
    // Clears what was set since setAside() returned `saved` and puts back
    // the values it set aside. Calls pair up like brackets.
    void restore(const Mask& saved) noexcept {
        if (any(saved)) {
            moveBack(saved);
        }
        set_ = saved;
    }

    // Calls visit(slot, value) for each set slot but `inner`, in slot order.
    template <class Visit> void forEachAttribute(Visit&& visit) const {
        for (std::size_t word = 0; word < set_.size(); ++word) {
            std::uint64_t bits = set_[word];
            if (word == innerIndex / 64) {
                bits &= ~bitOf(innerIndex);
            }
            while (bits != 0) {
                std::size_t index = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
                bits &= bits - 1;
                visit(static_cast<attr::Slot>(index), values_[index]);
            }
        }
    }

private:
    // Not std::array's ==, which calls memcmp.
    static bool any(const Mask& mask) noexcept {
        std::uint64_t bits = 0;
        for (std::uint64_t word : mask) {
            bits |= word;
        }
        return bits != 0;
    }
    void moveAside(const Mask& saved);
    void moveBack(const Mask& saved) noexcept;

    static constexpr std::uint64_t bitOf(std::size_t index) {
        return std::uint64_t{1} << index % 64;
    }
    static constexpr std::size_t innerIndex = static_cast<std::size_t>(attr::Slot::inner);

    std::array<std::string, attr::slotCount> values_;
    Mask set_{};
    // The values of enclosing elements, set aside innermost last; `aside_`
    // only grows, its strings keep their storage for the next element.
    std::vector<std::string> aside_;
    std::size_t asideCount_ = 0;
};

} // namespace vuzozar
