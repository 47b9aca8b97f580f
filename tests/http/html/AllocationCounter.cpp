// Replaces the global operator new and delete of the program that links this
// file with ones that count each thread's allocations and otherwise behave as
// the library's: malloc and free underneath, std::bad_alloc when it fails.
// Every unaligned form is replaced, so that memory from one of them never
// reaches another allocator's delete (the sanitizers check that).
#include "tests/http/html/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace vuzozar {

namespace {

thread_local std::size_t allocations = 0;

void* allocate(std::size_t size) noexcept {
    ++allocations;
    return std::malloc(size == 0 ? 1 : size);
}

void* allocateOrThrow(std::size_t size) {
    void* memory = allocate(size);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

} // namespace

std::size_t allocationsOfThisThread() noexcept {
    return allocations;
}

} // namespace vuzozar

void* operator new(std::size_t size) {
    return vuzozar::allocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return vuzozar::allocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return vuzozar::allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return vuzozar::allocate(size);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
