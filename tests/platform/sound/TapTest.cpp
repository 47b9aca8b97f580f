// The tap against the private test server: which streams it captures, that it
// gives them back, and that a tap left by a killed run does not trap them.
#include "platform/sound/SoundServer.h"
#include "tests/platform/sound/support/SoundServerTools.h"
#include "tests/platform/sound/support/TestApplication.h"
#include "tests/platform/sound/support/ToneAnalysis.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

namespace zivra::platform::sound {

using namespace std::chrono_literals;

namespace {

class TapTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApplication(); }
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        tone = dir.filePath("tone.wav");
        writeCentreTone(tone, 440);
        otherTone = dir.filePath("other.wav");
        writeCentreTone(otherTone, 660);
    }

    std::optional<std::uint32_t> tapSink() const { return sinkIndex("zivra_tap"); }

    bool playsOn(const Player& player, std::optional<std::uint32_t> sink) const {
        const auto input = player.sinkInput();
        return input && sink && input->sink == *sink;
    }

    QTemporaryDir dir;
    QString tone, otherTone; // two frequencies: equal ones could cancel out
    std::shared_ptr<SoundServer> server = createSoundServer();
};

TEST_F(TapTest, CapturesForeignStreamsAndGivesThemBack) {
    Player before(tone);
    ASSERT_TRUE(waitUntil([&] { return playsOn(before, sinkIndex("speakers")); }));

    auto tap = server->createTap({"Zivra Tap", getpid()});
    ASSERT_TRUE(tapSink().has_value());
    EXPECT_TRUE(waitUntil([&] { return playsOn(before, tapSink()); }));

    // A stream that starts while the tap exists is captured too, even one that
    // asked for another sink.
    Player later(otherTone, "headphones");
    EXPECT_TRUE(waitUntil([&] { return playsOn(later, tapSink()); }));

    // Streams on the tap are silent on the speakers.
    EXPECT_LT(rmsDb(record("speakers.monitor", 500ms)), -90);

    const auto format = tap->format();
    ASSERT_TRUE(format.has_value());
    EXPECT_EQ(format->sampleRate, 48000);
    EXPECT_EQ(format->channels, 2u);
    EXPECT_EQ(tap->sourceName(), "zivra_tap.monitor");

    tap.reset();
    EXPECT_FALSE(tapSink().has_value());
    EXPECT_TRUE(modulesWith("zivra_tap").empty());
    EXPECT_TRUE(waitUntil([&] { return playsOn(before, sinkIndex("speakers")); }));
    EXPECT_TRUE(waitUntil([&] { return playsOn(later, sinkIndex("speakers")); }));
    const auto heard = mid(tail(record("speakers.monitor", 1500ms), 24000));
    EXPECT_GT(levelDb(heard, testRate, 440), -20);
    EXPECT_GT(levelDb(heard, testRate, 660), -20);
}

TEST_F(TapTest, LeavesTheExcludedProcessAlone) {
    Player excluded(tone);
    Player other(tone);
    ASSERT_TRUE(waitUntil([&] { return excluded.sinkInput() && other.sinkInput(); }));

    auto tap = server->createTap({"Zivra Tap", excluded.processId()});
    EXPECT_TRUE(waitUntil([&] { return playsOn(other, tapSink()); }));
    EXPECT_TRUE(playsOn(excluded, sinkIndex("speakers")));
}

TEST_F(TapTest, RemovesATapLeftByAKilledRun) {
    Player player(tone);
    ASSERT_TRUE(waitUntil([&] { return player.sinkInput().has_value(); }));

    QProcess holder;
    holder.start(TAP_HOLDER);
    ASSERT_TRUE(holder.waitForReadyRead(10000));
    ASSERT_EQ(holder.readLine().trimmed(), "ready");
    ASSERT_TRUE(waitUntil([&] { return playsOn(player, tapSink()); }));
    holder.kill();
    holder.waitForFinished();

    // The killed run's sink is still there and holds the stream.
    ASSERT_EQ(modulesWith("zivra_tap").size(), 1u);
    EXPECT_TRUE(playsOn(player, tapSink()));

    auto tap = server->createTap({"Zivra Tap", getpid()});
    const auto modules = modulesWith("zivra_tap");
    // One tap, not the stale one beside a new one (the server may give the
    // new module the old one's index).
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_TRUE(waitUntil([&] { return playsOn(player, tapSink()); }));

    tap.reset();
    EXPECT_TRUE(modulesWith("zivra_tap").empty());
    EXPECT_TRUE(waitUntil([&] { return playsOn(player, sinkIndex("speakers")); }));
}

} // namespace

} // namespace zivra::platform::sound
