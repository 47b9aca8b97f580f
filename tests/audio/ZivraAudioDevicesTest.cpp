#include "tests/audio/EngineTestSupport.h"

namespace zivra::audio {

namespace {

using zivra::platform::sound::DeviceChange;

class DevicesTest : public EngineTest {
protected:
    // The sink the graph plays on after a start.
    std::optional<std::uint32_t> playbackSink() {
        engine().setPitchEnabled(true);
        settle();
        return server->graph ? server->graph->outputDevice : std::nullopt;
    }
};

TEST_F(DevicesTest, ListsSinksWithOutputsInServerOrder) {
    server->sinkList = {{7, "a", "Alpha", 2}, {3, "b", "Beta", 0}, {5, "", "", 1}};
    EXPECT_EQ(engine().outputDevices(),
              (QList<OutputDevice>{{7, "a", "Alpha"}, {5, "Unknown", "Unknown"}}));
}

TEST_F(DevicesTest, UnreadableListIsEmpty) {
    server->sinkListReadable = false;
    EXPECT_TRUE(engine().outputDevices().isEmpty());
}

TEST_F(DevicesTest, SelectedPhysicalDeviceIsUsed) {
    engine().setSelectedOutputID(41);
    EXPECT_EQ(playbackSink(), 41u);
}

TEST_F(DevicesTest, SelectedVirtualDeviceFallsBackToTheDefault) {
    server->sinkList.push_back({50, "zivra_aggregate", "Zivra Aggregate", 2});
    server->setDefaultStatus = -1; // keep the default where it is
    engine().setSelectedOutputID(50);
    EXPECT_EQ(playbackSink(), 40u);
}

TEST_F(DevicesTest, VirtualDefaultGivesWayToTheNextPhysicalDevice) {
    server->sinkList = {{60, "bh", "BlackHole 2ch", 2},
                        {61, "multi", "My MULTI-OUTPUT Device", 2},
                        {62, "speakers", "Multi Output Speakers", 2}};
    server->defaultSinkIndex = 60;
    EXPECT_EQ(playbackSink(), 62u) << "a name with only part of a marker is not virtual";
}

TEST_F(DevicesTest, AllVirtualKeepsTheDefault) {
    server->sinkList = {{60, "bh", "BlackHole 2ch", 2}, {61, "lb", "Loopback Audio", 2}};
    server->defaultSinkIndex = 61;
    EXPECT_EQ(playbackSink(), 61u);
}

TEST_F(DevicesTest, NoDefaultAndNoSelectionFailsTheStart) {
    server->defaultSinkIndex.reset();
    server->sinkList = {{60, "bh", "BlackHole 2ch", 2}};
    EXPECT_EQ(playbackSink(), std::nullopt);
    EXPECT_EQ(engine().statusText(), "Error: No default output device");
}

// The server names a new default a moment after the sink appears.
TEST_F(DevicesTest, ADefaultNotYetNamedGivesWayToAListedDevice) {
    server->defaultSinkIndex.reset();
    server->sinkList = {{60, "bh", "BlackHole 2ch", 2}, {62, "usb", "USB Audio", 2}};
    EXPECT_EQ(playbackSink(), 62u);
    EXPECT_EQ(engine().statusText(), "");
}

// Every device unplugged while the graph is built: the server's default is
// then the tap, which it does not list as an output, and the graph cannot
// start. The engine holds the tap and waits, then plays on the next device.
TEST_F(DevicesTest, AnOutputLostWhileTheGraphIsBuiltIsWaitedFor) {
    server->aliveOnRead = 3;
    server->failAt = FakeSoundServer::Step::graphStart;
    engine().setPitchEnabled(true);
    runTasks();
    server->sinkList.clear();
    server->defaultSinkIndex = 90;
    server->notify(DeviceChange::defaultSink);
    settle();
    EXPECT_EQ(engine().statusText(), "Waiting for an output device");
    EXPECT_TRUE(engine().isEngineRunning());
    EXPECT_EQ(server->live("tap"), 1);

    server->failAt = FakeSoundServer::Step::none;
    server->sinkList = {{42, "usb", "USB Audio", 2}};
    server->defaultSinkIndex.reset();
    server->notify(DeviceChange::sinkList);
    settle();
    ASSERT_EQ(server->live("graph"), 1);
    EXPECT_EQ(server->graph->outputDevice, 42u);
    EXPECT_EQ(engine().statusText(), "");
}

TEST_F(DevicesTest, AnOutputStreamThatEndsIsBuiltAgainOnlyForTheLatestGraph) {
    ASSERT_EQ(playbackSink(), 40u);
    const auto ended = server->graph->ended;
    ASSERT_TRUE(ended);
    ended();
    settle();
    EXPECT_EQ(server->count("create graph"), 2);
    EXPECT_EQ(server->live("graph"), 1);
    ended();
    settle();
    EXPECT_EQ(server->count("create graph"), 2) << "the graph it came from is gone";
}

TEST_F(DevicesTest, SelectingTheSameValueDoesNothing) {
    engine().setSelectedOutputID(41);
    engine().setSelectedOutputID(41);
    engine().setSelectedOutputID(std::nullopt);
    EXPECT_EQ(server->count("setDefaultSink 41"), 1);
    EXPECT_EQ(server->defaultSinkIndex, 41u) << "going back to the system default changes nothing";
}

TEST_F(DevicesTest, RefusedSelectionShowsTheStatusAndKeepsTheEngine) {
    engine().setPitchEnabled(true);
    settle();
    server->setDefaultStatus = -7;
    engine().setSelectedOutputID(41);
    settle();
    EXPECT_EQ(engine().statusText(), "Could not set output (-7)");
    EXPECT_EQ(engine().selectedOutputID(), 41u);
    EXPECT_EQ(server->count("create graph"), 1);
    EXPECT_EQ(server->graph->outputDevice, 40u);
}

TEST_F(DevicesTest, SelectionRebuildsARunningGraphOnTheNewDevice) {
    engine().setPitchEnabled(true);
    settle();
    engine().setSelectedOutputID(41);
    settle();
    EXPECT_EQ(server->defaultSinkIndex, 41u);
    EXPECT_EQ(server->count("create graph"), 2);
    EXPECT_EQ(server->live("graph"), 1);
    EXPECT_EQ(server->graph->outputDevice, 41u);
    EXPECT_TRUE(engine().isEngineRunning());
}

// The output menu reads the list: it stays current once pitch was on and off.
TEST_F(DevicesTest, TheListStaysCurrentAfterTheEngineStopped) {
    engine().setPitchEnabled(true);
    settle();
    engine().setPitchEnabled(false);
    server->sinkList.push_back({42, "usb", "USB Audio", 2});
    server->notify(DeviceChange::sinkList);
    settle();
    EXPECT_EQ(engine().outputDevices().size(), 3);
    EXPECT_EQ(server->count("add listener"), 2);
}

// After a server restart another sink holds the chosen one's old index.
TEST_F(DevicesTest, TheChoiceFollowsTheNameNotAnOldIndex) {
    engine().setSelectedOutputID(41);
    server->defaultSinkIndex = 40;
    engine().setPitchEnabled(true);
    settle();
    server->sinkList = {{40, "speakers", "Speakers", 2}, {41, "other", "Other", 2}};
    server->notify(DeviceChange::sinkList);
    settle();
    EXPECT_EQ(server->graph->outputDevice, 40u);
    server->sinkList.push_back({44, "headphones", "Headphones", 2});
    server->notify(DeviceChange::sinkList);
    settle();
    EXPECT_EQ(server->graph->outputDevice, 44u);
    EXPECT_EQ(engine().selectedOutputID(), 44u);
}

TEST_F(DevicesTest, ADefaultMovedBetweenOtherDevicesRestartsNothing) {
    server->sinkList.push_back({42, "usb", "USB Audio", 2});
    engine().setSelectedOutputID(41);
    engine().setPitchEnabled(true);
    settle();
    for (const std::uint32_t sink : {40u, 42u, 40u, 42u}) {
        server->defaultSinkIndex = sink;
        server->notify(DeviceChange::defaultSink);
        settle();
    }
    EXPECT_EQ(server->count("create graph"), 1);
    EXPECT_EQ(server->graph->outputDevice, 41u);
}

} // namespace

} // namespace zivra::audio
