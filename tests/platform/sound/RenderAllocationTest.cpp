// The render thread must never allocate: the graph with the pitch stage
// shifting, changing pitch and switching bypass, counted through the C
// allocation functions that every allocation ends in.
#include "platform/sound/RenderGraph.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <numbers>

// glibc's own entry points, to which the counting versions below forward.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {

thread_local bool counting = false;
std::atomic<int> allocations{0};

void count() {
    if (counting) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
}

} // namespace

// Every allocation of the process (operator new, Rubber Band's aligned
// buffers) goes through these.
extern "C" {
void* malloc(std::size_t size) {
    count();
    return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) {
    count();
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t size) {
    count();
    return __libc_realloc(p, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
    count();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    count();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** p, std::size_t alignment, std::size_t size) {
    count();
    *p = __libc_memalign(alignment, size);
    return *p ? 0 : ENOMEM;
}
void free(void* p) {
    __libc_free(p);
}
}

namespace zivra::platform::sound {
namespace {

TEST(RenderAllocationTest, RenderingAllocatesNothing) {
    RenderGraph graph(48000);
    double phase = 0;
    graph.setSource([&](bool& silence, std::uint32_t frames, std::span<AudioBuffer> output) {
        for (std::uint32_t i = 0; i < frames; ++i) {
            const auto s = static_cast<float>(0.3 * std::sin(phase));
            static_cast<float*>(output[0].data)[i] = s;
            static_cast<float*>(output[1].data)[i] = 0.5f * s;
            phase += 2 * std::numbers::pi * 440 / 48000;
        }
        silence = false;
    });
    graph.tap().install(1024, [](const PcmBufferView&) {});
    std::vector<float> out(2 * 480);

    // From the very first block: a graph starts bypassed and is shifted later,
    // to any pitch within the stage's limits.
    const float pitches[] = {700, -2400, 2400, -1200, 1, -1, 1200, 0};
    counting = true;
    for (int i = 0; i < 1000; ++i) {
        if (i % 100 == 10) {
            graph.timePitch().setPitch(pitches[(i / 100) % std::size(pitches)]);
        }
        if (i % 250 == 5) {
            graph.timePitch().setBypass(false);
        }
        if (i % 250 == 125) {
            graph.timePitch().setBypass(true);
        }
        graph.render(out.data(), 480);
    }
    counting = false;
    graph.tap().remove();
    EXPECT_EQ(allocations, 0);
}

} // namespace
} // namespace zivra::platform::sound
