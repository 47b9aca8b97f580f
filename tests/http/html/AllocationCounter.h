#pragma once

#include <cstddef>

namespace vuzozar {

// How many heap allocations (operator new in any of its unaligned forms) the
// calling thread has made since it started. Counted by the replacement
// operators in AllocationCounter.cpp, which a program that calls this must
// link. Any thread, for that thread's own count. Never throws.
std::size_t allocationsOfThisThread() noexcept;

} // namespace vuzozar
