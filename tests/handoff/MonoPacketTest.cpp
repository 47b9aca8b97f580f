#include "handoff/MonoPacket.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace zivra::handoff {
namespace {

std::int16_t sent(float left, float right) {
    return pcm16Of(monoOf(left, right));
}

TEST(MonoPacketTest, MixesStereoToOneChannel) {
    EXPECT_EQ(sent(0.5f, 0.5f), 16383);
    EXPECT_EQ(sent(0.5f, 0.3f), 13106);
    EXPECT_EQ(sent(0, 0), 0);
    // Channels that nearly cancel keep the louder one (the left on a tie).
    EXPECT_EQ(sent(0.5f, -0.49f), 16383);
    EXPECT_EQ(sent(-0.2f, 0.21f), 6881);
    EXPECT_EQ(sent(0.3f, -0.3f), 9830);
    EXPECT_EQ(sent(0, 0.4f), 6553); // one silent channel is no cancellation
}

TEST(MonoPacketTest, ClampsInsteadOfWrapping) {
    EXPECT_EQ(sent(1.2f, 1.2f), 32767);
    EXPECT_EQ(sent(-1.5f, -1.5f), -32768);
    EXPECT_EQ(pcm16Of(-1.0f), -32767);
    EXPECT_EQ(pcm16Of(std::nanf("")), 32767);
    EXPECT_EQ(pcm16Of(-INFINITY), -32768);
    EXPECT_EQ(pcm16Of(-0.00002f), 0); // truncated toward zero
}

TEST(MonoPacketTest, WritesLittleEndianSamplesFromTheFirstTwoChannels) {
    const std::vector<float> threeChannels = {0.5f, 0.5f, 0.9f, -1.5f, -1.5f, 0.9f};
    std::vector<std::uint8_t> out(4);
    mixToMonoPcm16(threeChannels.data(), 2, 3, out.data());
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0xFF, 0x3F, 0x00, 0x80}));

    const std::vector<float> mono = {0.25f, -0.3f};
    mixToMonoPcm16(mono.data(), 2, 1, out.data());
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0xFF, 0x1F, 0x9A, 0xD9}));
}

} // namespace
} // namespace zivra::handoff
