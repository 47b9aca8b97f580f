#include "MirrorBuffer/C/MirrorBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

namespace {

// One producer and one consumer move a long numbered stream through a
// one-page ring in blocks of changing sizes; every byte must arrive in order.
TEST(MirrorBufferThreads, NumberedStreamArrivesIntact) {
    MirrorBuffer ring{};
    ASSERT_TRUE(MirrorBufferInit(&ring, 1));
    constexpr std::uint64_t total = 64ull << 20;

    std::thread producer([&] {
        std::uint64_t sent = 0;
        std::uint32_t block = 1;
        while (sent < total) {
            block = block % 997 + 13;
            const std::uint32_t size =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(block, total - sent));
            std::uint32_t space = 0;
            auto* out = static_cast<unsigned char*>(MirrorBufferGetWritePointer(&ring, &space));
            if (!out || space < size) {
                std::this_thread::yield();
                continue;
            }
            for (std::uint32_t i = 0; i < size; ++i) {
                out[i] = static_cast<unsigned char>((sent + i) * 131 >> 3);
            }
            MirrorBufferProduce(&ring, size);
            sent += size;
        }
    });

    std::uint64_t received = 0;
    std::uint64_t mismatches = 0;
    std::uint32_t want = 7;
    while (received < total) {
        want = want % 1499 + 1;
        std::uint32_t available = 0;
        const auto* in =
            static_cast<const unsigned char*>(MirrorBufferGetReadPointer(&ring, &available));
        if (!in) {
            std::this_thread::yield();
            continue;
        }
        const std::uint32_t size = std::min(available, want);
        for (std::uint32_t i = 0; i < size; ++i) {
            mismatches += in[i] != static_cast<unsigned char>((received + i) * 131 >> 3);
        }
        MirrorBufferConsume(&ring, size);
        received += size;
    }
    producer.join();
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(received, total);
    EXPECT_EQ(MirrorBufferFillCount(&ring), 0u);
    MirrorBufferCleanup(&ring);
}

} // namespace
