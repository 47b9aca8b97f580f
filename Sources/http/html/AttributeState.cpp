#include "http/html/AttributeState.h"

namespace vuzozar {

namespace {

// Calls visit(index) for each slot set in `mask`, the last one first.
template <class Visit> void forEachSetBackwards(const AttributeState::Mask& mask, Visit&& visit) {
    for (std::size_t word = mask.size(); word-- > 0;) {
        std::uint64_t bits = mask[word];
        while (bits != 0) {
            std::size_t top = 63 - static_cast<std::size_t>(std::countl_zero(bits));
            bits &= ~(std::uint64_t{1} << top);
            visit(word * 64 + top);
        }
    }
}

} // namespace

void AttributeState::moveAside(const Mask& saved) {
    std::size_t count = 0;
    for (std::uint64_t bits : saved) {
        count += static_cast<std::size_t>(std::popcount(bits));
    }
    if (aside_.size() < asideCount_ + count) {
        aside_.resize(asideCount_ + count);
    }
    // Swapped, not copied: the set-aside string takes the value's storage
    // and the slot keeps the spare one for its next value.
    for (std::size_t word = 0; word < saved.size(); ++word) {
        for (std::uint64_t bits = saved[word]; bits != 0; bits &= bits - 1) {
            std::size_t index = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
            values_[index].swap(aside_[asideCount_++]);
        }
    }
    set_ = Mask{};
}

void AttributeState::moveBack(const Mask& saved) noexcept {
    forEachSetBackwards(saved,
                        [&](std::size_t index) { values_[index].swap(aside_[--asideCount_]); });
}

} // namespace vuzozar
