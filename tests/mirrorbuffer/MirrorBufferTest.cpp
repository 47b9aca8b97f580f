#include "MirrorBuffer/C/MirrorBuffer.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

const uint32_t page = static_cast<uint32_t>(sysconf(_SC_PAGESIZE));

class MirrorBufferTest : public ::testing::Test {
protected:
    void TearDown() override {
        MirrorBufferCleanup(&ring);
        MirrorBufferSetMapping(nullptr);
    }
    MirrorBuffer ring{};
};

unsigned char* bytes(MirrorBuffer& ring) {
    return static_cast<unsigned char*>(ring.buffer);
}

// Moves head and tail to `offset` with an empty ring.
void advanceTo(MirrorBuffer& ring, uint32_t offset) {
    MirrorBufferProduce(&ring, offset);
    MirrorBufferConsume(&ring, offset);
}

TEST_F(MirrorBufferTest, LengthIsRaisedToWholePages) {
    ASSERT_TRUE(MirrorBufferInit(&ring, 4194304));
    EXPECT_EQ(ring.length, 4194304u);
    MirrorBufferCleanup(&ring);
    ASSERT_TRUE(MirrorBufferInit(&ring, 1));
    EXPECT_EQ(ring.length, page);
    EXPECT_TRUE(ring.atomic);
    EXPECT_EQ(MirrorBufferFillCount(&ring), 0u);
}

TEST_F(MirrorBufferTest, BothHalvesAliasTheSameBytes) {
    ASSERT_TRUE(MirrorBufferInit(&ring, 3 * page));
    for (uint32_t i : {0u, ring.length / 2, ring.length - 1}) {
        bytes(ring)[i] = 0x5a;
        EXPECT_EQ(bytes(ring)[i + ring.length], 0x5a) << "offset " << i;
        bytes(ring)[i + ring.length] = 0xa5;
        EXPECT_EQ(bytes(ring)[i], 0xa5) << "offset " << i;
    }
}

TEST_F(MirrorBufferTest, BlockAcrossTheWrapReadsBackInOneCopy) {
    ASSERT_TRUE(MirrorBufferInit(&ring, page));
    advanceTo(ring, ring.length - 8);
    uint32_t space = 0;
    auto* out = static_cast<unsigned char*>(MirrorBufferGetWritePointer(&ring, &space));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(space, ring.length);
    unsigned char block[16];
    for (int i = 0; i < 16; ++i) {
        block[i] = static_cast<unsigned char>(i + 1);
    }
    std::memcpy(out, block, sizeof block);
    MirrorBufferProduce(&ring, sizeof block);
    EXPECT_EQ(ring.head, 8u);
    EXPECT_EQ(std::memcmp(bytes(ring) + ring.length - 8, block, 8), 0);
    EXPECT_EQ(std::memcmp(bytes(ring), block + 8, 8), 0);

    uint32_t available = 0;
    const void* in = MirrorBufferGetReadPointer(&ring, &available);
    ASSERT_EQ(available, 16u);
    unsigned char copy[16];
    std::memcpy(copy, in, sizeof copy);
    EXPECT_EQ(std::memcmp(copy, block, sizeof block), 0);
    MirrorBufferConsume(&ring, 16);
    EXPECT_EQ(ring.tail, 8u);
    EXPECT_EQ(MirrorBufferGetReadPointer(&ring, &available), nullptr);
    EXPECT_EQ(available, 0u);
}

TEST_F(MirrorBufferTest, FullRingHasNoWritePointer) {
    ASSERT_TRUE(MirrorBufferInit(&ring, page));
    MirrorBufferProduce(&ring, ring.length);
    uint32_t space = 1;
    EXPECT_EQ(MirrorBufferGetWritePointer(&ring, &space), nullptr);
    EXPECT_EQ(space, 0u);
}

TEST_F(MirrorBufferTest, ClearDiscardsWhatIsStored) {
    ASSERT_TRUE(MirrorBufferInit(&ring, page));
    MirrorBufferClear(&ring);
    EXPECT_EQ(ring.tail, 0u);
    EXPECT_EQ(MirrorBufferFillCount(&ring), 0u);

    advanceTo(ring, ring.length - 100);
    MirrorBufferProduce(&ring, 300);
    MirrorBufferClear(&ring);
    EXPECT_EQ(ring.tail, 200u);
    EXPECT_EQ(ring.head, 200u);
    EXPECT_EQ(MirrorBufferFillCount(&ring), 0u);
}

TEST_F(MirrorBufferTest, CleanupZeroesTheRecord) {
    ASSERT_TRUE(MirrorBufferInit(&ring, page));
    MirrorBufferProduce(&ring, 10);
    MirrorBufferCleanup(&ring);
    EXPECT_EQ(ring.buffer, nullptr);
    EXPECT_EQ(ring.length, 0u);
    EXPECT_EQ(ring.head, 0u);
    EXPECT_EQ(MirrorBufferFillCount(&ring), 0u);
    EXPECT_FALSE(ring.atomic);
}

TEST(MirrorBufferDeathTest, RecordOfAnotherSizeStopsTheProcess) {
    MirrorBuffer ring{};
    EXPECT_DEATH(_MirrorBufferInit(&ring, 4096, sizeof(MirrorBuffer) - 8),
                 "MirrorBuffer: Header version mismatch. Check for old versions of MirrorBuffer "
                 "in your project\n");
}

// A mapping layer that fails chosen calls of mmap with ENOMEM.
struct FailingMapping {
    static inline int call = 0;
    static inline std::string failures; // one character per call: 'x' fails, '.' maps
    static void* map(void* address, size_t length, int protection, int flags, int fd, off_t off) {
        const int index = call++;
        if (index < static_cast<int>(failures.size()) && failures[index] == 'x') {
            errno = ENOMEM;
            return MAP_FAILED;
        }
        return mmap(address, length, protection, flags, fd, off);
    }
    static void use(std::string pattern) {
        call = 0;
        failures = std::move(pattern);
        static const MirrorBufferMapping mapping{map, munmap};
        MirrorBufferSetMapping(&mapping);
    }
};

TEST_F(MirrorBufferTest, FourthFailureInARowIsReported) {
    // Attempt 1 fails reserving, 2 mapping the lower half, 3 and 4 the upper.
    FailingMapping::use("x"
                        ".x"
                        "..x"
                        "..x");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(MirrorBufferInit(&ring, 100));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(FailingMapping::call, 1 + 2 + 3 + 3);
    EXPECT_TRUE(out.starts_with("MirrorBuffer.c:")) << out;
    EXPECT_TRUE(
        out.ends_with(": Remap buffer memory: " + std::string(std::strerror(ENOMEM)) + "\n"))
        << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);

    EXPECT_EQ(ring.buffer, nullptr);
    EXPECT_EQ(ring.length, page);
    uint32_t available = 0;
    EXPECT_EQ(MirrorBufferGetWritePointer(&ring, &available), nullptr);
    EXPECT_EQ(MirrorBufferGetReadPointer(&ring, &available), nullptr);
    MirrorBufferClear(&ring);
    EXPECT_EQ(MirrorBufferFillCount(&ring), 0u);
}

TEST_F(MirrorBufferTest, ReservationFailureIsReportedAsAllocation) {
    FailingMapping::use("xxxx");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(MirrorBufferInit(&ring, 100));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(": Buffer allocation: "), std::string::npos) << out;
}

TEST_F(MirrorBufferTest, ThreeFailuresThenSuccessReportsNothing) {
    FailingMapping::use("x"
                        "x"
                        "x");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(MirrorBufferInit(&ring, 100));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    bytes(ring)[0] = 7;
    EXPECT_EQ(bytes(ring)[ring.length], 7);
}

} // namespace
