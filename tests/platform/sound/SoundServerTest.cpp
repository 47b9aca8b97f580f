// The sound server client against the private test server: the sink list,
// the default sink and the two kinds of change notification.
#include "platform/sound/SoundServer.h"
#include "tests/platform/sound/support/SoundServerTools.h"
#include "tests/platform/sound/support/TestApplication.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <pulse/def.h>

namespace zivra::platform::sound {

namespace {

class SoundServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApplication(); }
    void TearDown() override { pactl({"set-default-sink", "speakers"}); }

    std::shared_ptr<SoundServer> server = createSoundServer();
};

const SinkInfo* findSink(const std::vector<SinkInfo>& sinks, const std::string& name) {
    for (const auto& sink : sinks) {
        if (sink.name == name) {
            return &sink;
        }
    }
    return nullptr;
}

TEST_F(SoundServerTest, ListsSinksWithIndexNameDescriptionAndChannels) {
    const auto sinks = server->sinks();
    ASSERT_TRUE(sinks.has_value());
    const SinkInfo* speakers = findSink(*sinks, "speakers");
    const SinkInfo* headphones = findSink(*sinks, "headphones");
    ASSERT_NE(speakers, nullptr);
    ASSERT_NE(headphones, nullptr);
    EXPECT_EQ(speakers->description, "Speakers");
    EXPECT_EQ(headphones->description, "Headphones");
    EXPECT_EQ(speakers->outputChannels, 2u);
    EXPECT_EQ(speakers->index, sinkIndex("speakers"));
    EXPECT_EQ(headphones->index, sinkIndex("headphones"));

    // The server's order is kept: speakers was loaded before headphones.
    EXPECT_LT(speakers - sinks->data(), headphones - sinks->data());

    const auto one = server->sink(headphones->index);
    ASSERT_TRUE(one.has_value());
    EXPECT_EQ(one->name, "headphones");
    EXPECT_FALSE(server->sink(987654).has_value());
}

TEST_F(SoundServerTest, ReadsAndSetsTheDefaultSink) {
    EXPECT_EQ(server->defaultSink(), sinkIndex("speakers"));

    const auto headphones = sinkIndex("headphones");
    ASSERT_TRUE(headphones.has_value());
    EXPECT_EQ(server->setDefaultSink(*headphones), 0);
    // Seen at once by the layer and by every other client.
    EXPECT_EQ(server->defaultSink(), headphones);
    EXPECT_EQ(defaultSinkName(), "headphones");

    EXPECT_EQ(server->setDefaultSink(987654), PA_ERR_NOENTITY);
    EXPECT_EQ(defaultSinkName(), "headphones");
}

TEST_F(SoundServerTest, FollowsDefaultChangesMadeByOthers) {
    int changes = 0;
    const ListenerId id = server->addListener(DeviceChange::defaultSink, [&] {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        ++changes;
    });
    ASSERT_NE(id, 0u);

    pactl({"set-default-sink", "headphones"});
    ASSERT_TRUE(waitUntil([&] { return changes == 1; }));
    EXPECT_EQ(server->defaultSink(), sinkIndex("headphones"));

    // Other server changes are not default changes.
    pactl({"set-sink-volume", "headphones", "50%"});
    pactl({"set-default-sink", "speakers"});
    ASSERT_TRUE(waitUntil([&] { return changes == 2; }));
    EXPECT_FALSE(waitUntil([&] { return changes > 2; }, std::chrono::milliseconds(500)));
}

TEST_F(SoundServerTest, FollowsTheSinkListAndStopsAfterRemoval) {
    int listChanges = 0, defaultChanges = 0;
    const ListenerId list = server->addListener(DeviceChange::sinkList, [&] { ++listChanges; });
    const ListenerId other =
        server->addListener(DeviceChange::defaultSink, [&] { ++defaultChanges; });
    ASSERT_NE(list, 0u);
    ASSERT_NE(other, list);

    const QString module = pactl({"load-module", "module-null-sink", "sink_name=extra"});
    ASSERT_FALSE(module.isEmpty());
    ASSERT_TRUE(waitUntil([&] { return listChanges >= 1; }));
    ASSERT_TRUE(waitUntil([&] {
        const auto sinks = server->sinks();
        return sinks && findSink(*sinks, "extra");
    }));

    server->removeListener(list);
    const int seen = listChanges;
    pactl({"unload-module", module});
    ASSERT_TRUE(waitUntil([&] { return !sinkIndex("extra"); }));
    EXPECT_FALSE(waitUntil([&] { return listChanges != seen; }, std::chrono::milliseconds(500)));
    EXPECT_EQ(defaultChanges, 0);
}

TEST_F(SoundServerTest, ListenerRemovedBeforeDeliveryIsNotCalled) {
    int calls = 0;
    const ListenerId id = server->addListener(DeviceChange::defaultSink, [&] { ++calls; });
    ASSERT_NE(id, 0u);
    // The change is announced while no events are processed; the removal
    // comes first on the main thread.
    EXPECT_EQ(server->setDefaultSink(*sinkIndex("headphones")), 0);
    server->removeListener(id);
    EXPECT_FALSE(waitUntil([&] { return calls > 0; }, std::chrono::milliseconds(500)));
}

} // namespace

} // namespace zivra::platform::sound
