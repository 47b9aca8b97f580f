#include "handoff/HandoffMessages.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zivra::handoff {
namespace {

using Action = HandoffCommand::Action;

QJsonObject parsed(const std::optional<std::string>& text) {
    EXPECT_TRUE(text);
    return QJsonDocument::fromJson(QByteArray::fromStdString(text.value_or("{}"))).object();
}

TEST(HandoffCommandTest, ReadsEachActionWithItsValue) {
    auto pitch = parseHandoffCommand(R"({"action":"setPitchCents","value":-200})");
    ASSERT_TRUE(pitch);
    EXPECT_EQ(pitch->action, Action::setPitchCents);
    EXPECT_EQ(pitch->number, -200);

    auto mode = parseHandoffCommand(R"({"value":"Karaoke","action":"setVocalMode"})");
    ASSERT_TRUE(mode);
    EXPECT_EQ(mode->mode, audio::VocalRemovalMode::karaoke);

    auto enabled = parseHandoffCommand(R"({"action":"setRemoveVocalsEnabled","value":true})");
    ASSERT_TRUE(enabled);
    EXPECT_EQ(enabled->action, Action::setRemoveVocalsEnabled);
    EXPECT_TRUE(enabled->enabled);

    auto seek = parseHandoffCommand(R"({"action":"seek","value":-3.5})");
    ASSERT_TRUE(seek);
    EXPECT_EQ(seek->number, -3.5);

    // Actions without a value ignore whatever value comes along.
    auto next = parseHandoffCommand(R"({"action":"nextTrack","value":7})");
    ASSERT_TRUE(next);
    EXPECT_EQ(next->action, Action::nextTrack);
}

TEST(HandoffCommandTest, DropsWhatIsNoCommand) {
    for (const char* text : {
             "",
             "not json",
             "[1,2]",
             "\"setPitchCents\"",
             "{}",
             R"({"action":null})",
             R"({"action":5})",
             R"({"action":["getState"]})",
             R"({"action":"getstate"})",
             R"({"action":"SETPITCHCENTS","value":5})",
             R"({"action":"setPitchCents","value":"-200"})",
             R"({"action":"setPitchCents","value":null})",
             R"({"action":"setPitchCents"})",
             R"({"action":"setPitchEnabled"})",
             R"({"action":"setPitchEnabled","value":1})",
             R"({"action":"seek","value":true})",
             R"({"action":"setVocalMode","value":"karaoke"})",
             R"({"action":"setVocalMode","value":"Karaoke "})",
             R"({"action":"setPitchCents","value":1e400})",
             R"({"action":"getState")",
         }) {
        EXPECT_FALSE(parseHandoffCommand(text)) << text;
    }
    EXPECT_FALSE(parseHandoffCommand(std::string(100000, '[') + std::string(100000, ']')));
    EXPECT_FALSE(parseHandoffCommand(std::string("{\"action\":\"getState\"}\xff", 22)));
}

TEST(HandoffCommandTest, TakesOnlyPitchesTheEngineCanHold) {
    // Beyond single precision, or with a semitone count beyond 64 bits.
    EXPECT_FALSE(parseHandoffCommand(R"({"action":"setPitchCents","value":1e39})"));
    EXPECT_FALSE(parseHandoffCommand(R"({"action":"setPitchCents","value":-1e300})"));
    EXPECT_FALSE(parseHandoffCommand(R"({"action":"setPitchCents","value":1e300})"));
    EXPECT_FALSE(parseHandoffCommand(R"({"action":"setPitchCents","value":9.3e20})"));
    EXPECT_TRUE(parseHandoffCommand(R"({"action":"setPitchCents","value":9.2e20})"));
    EXPECT_TRUE(parseHandoffCommand(R"({"action":"setPitchCents","value":-1200})"));
    // Huge seconds are the player's business.
    EXPECT_TRUE(parseHandoffCommand(R"({"action":"seek","value":1e300})"));
}

TEST(HandoffMessageTest, WritesTheMessagesByName) {
    auto state = parsed(stateMessage({true, -200, false, audio::VocalRemovalMode::aggressive}));
    EXPECT_EQ(state.value("type"), "state");
    EXPECT_EQ(state.value("pitchEnabled"), true);
    EXPECT_EQ(state.value("pitchCents"), -200);
    EXPECT_EQ(state.value("removeVocalsEnabled"), false);
    EXPECT_EQ(state.value("vocalRemovalMode"), "Aggressive");

    auto track = parsed(nowPlayingMessage({"Song", "", true, 12.5, 215}));
    EXPECT_EQ(track.value("type"), "nowPlaying");
    EXPECT_EQ(track.value("title"), "Song");
    EXPECT_EQ(track.value("artist"), "");
    EXPECT_EQ(track.value("isPlaying"), true);
    EXPECT_EQ(track.value("position"), 12.5);
    EXPECT_EQ(track.value("duration"), 215);

    const double infinity = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(nowPlayingMessage({"Song", "", true, infinity, 215}));
    EXPECT_FALSE(nowPlayingMessage({"Song", "", true, 0, std::nan("")}));
}

TEST(HandoffMessageTest, ConfigAnnouncesMonoPacketsOfFiftyMilliseconds) {
    auto config = parsed(configMessage(44100));
    EXPECT_EQ(config.value("type"), "config");
    EXPECT_EQ(config.value("sampleRate"), 44100);
    EXPECT_EQ(config.value("channels"), 1);
    EXPECT_EQ(config.value("format"), "pcm-s16le");
    EXPECT_EQ(config.value("packetFrames"), 2205);

    EXPECT_EQ(parsed(configMessage(0)).value("sampleRate"), 48000);
    EXPECT_EQ(parsed(configMessage(-1)).value("packetFrames"), 2400);
    EXPECT_EQ(packetFrames(std::nan("")), 2400u);
    EXPECT_EQ(packetFrames(22050.9), 1102u);
    EXPECT_EQ(packetFrames(1e300), 0u);
}

} // namespace
} // namespace zivra::handoff
