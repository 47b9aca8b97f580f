#include "audio/RingBuffer.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cerrno>
#include <cstring>

namespace zivra::audio {

namespace {

void produce(RingBuffer& ring, const void* data, std::uint32_t size) {
    std::uint32_t space = 0;
    void* out = MirrorBufferGetWritePointer(&ring.buffer(), &space);
    ASSERT_NE(out, nullptr);
    ASSERT_GE(space, size);
    std::memcpy(out, data, size);
    MirrorBufferProduce(&ring.buffer(), size);
}

TEST(RingBuffer, ReadCopiesWhatIsStoredUpToTheLength) {
    RingBuffer ring(4194304);
    EXPECT_EQ(ring.buffer().length, 4194304u);
    unsigned char data[40];
    for (int i = 0; i < 40; ++i) {
        data[i] = static_cast<unsigned char>(200 - i);
    }
    produce(ring, data, sizeof data);

    unsigned char out[100] = {};
    EXPECT_EQ(ring.read(out, sizeof out), 40u);
    EXPECT_EQ(std::memcmp(out, data, sizeof data), 0);
    EXPECT_EQ(MirrorBufferFillCount(&ring.buffer()), 0u);
    EXPECT_EQ(ring.buffer().tail, 40u);

    EXPECT_EQ(ring.read(out, sizeof out), 0u);
    EXPECT_EQ(ring.buffer().tail, 40u);
}

TEST(RingBuffer, PartialReadLeavesTheRest) {
    RingBuffer ring(1);
    const char text[] = "0123456789";
    produce(ring, text, 10);
    char out[4] = {};
    EXPECT_EQ(ring.read(out, 4), 4u);
    EXPECT_EQ(std::memcmp(out, "0123", 4), 0);
    EXPECT_EQ(MirrorBufferFillCount(&ring.buffer()), 6u);
    ring.clear();
    EXPECT_EQ(MirrorBufferFillCount(&ring.buffer()), 0u);
    EXPECT_EQ(ring.buffer().tail, 10u);
}

void* refuseMapping(void*, size_t, int, int, int, off_t) {
    errno = ENOMEM;
    return MAP_FAILED;
}

TEST(RingBuffer, RingWithoutStorageStoresAndReadsNothing) {
    const MirrorBufferMapping failing{refuseMapping, munmap};
    MirrorBufferSetMapping(&failing);
    testing::internal::CaptureStdout();
    RingBuffer ring(4194304);
    const std::string report = testing::internal::GetCapturedStdout();
    MirrorBufferSetMapping(nullptr);

    EXPECT_NE(report.find("Buffer allocation"), std::string::npos);
    EXPECT_EQ(ring.buffer().buffer, nullptr);
    std::uint32_t space = 0;
    EXPECT_EQ(MirrorBufferGetWritePointer(&ring.buffer(), &space), nullptr);
    char out[16];
    EXPECT_EQ(ring.read(out, sizeof out), 0u);
    ring.clear();
    EXPECT_EQ(MirrorBufferFillCount(&ring.buffer()), 0u);
}

} // namespace

} // namespace zivra::audio
