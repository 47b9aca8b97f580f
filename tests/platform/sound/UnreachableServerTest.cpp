// Without a reachable sound server every query answers "nothing" and every
// construction fails with the server library's own message, which the engine
// shows as its error.
#include "platform/sound/SoundError.h"
#include "platform/sound/SoundServer.h"

#include <gtest/gtest.h>

#include <pulse/def.h>
#include <pulse/error.h>

#include <cstdlib>

namespace zivra::platform::sound {

TEST(UnreachableServerTest, AnswersNothingAndFailsWithTheServersMessage) {
    ::setenv("PULSE_SERVER", "unix:/nonexistent/zivra-test/native", 1);
    auto server = createSoundServer();

    EXPECT_FALSE(server->sinks().has_value());
    EXPECT_FALSE(server->sink(0).has_value());
    try {
        server->defaultSink();
        ADD_FAILURE() << "a default sink without a server";
    } catch (const SoundError& error) {
        EXPECT_STREQ(error.what(), pa_strerror(PA_ERR_CONNECTIONREFUSED));
    }
    EXPECT_EQ(server->setDefaultSink(0), PA_ERR_CONNECTIONREFUSED);
    EXPECT_EQ(server->addListener(DeviceChange::sinkList, [] {}), 0u);

    try {
        server->createTap({"Zivra Tap", std::nullopt});
        ADD_FAILURE() << "a tap without a server";
    } catch (const SoundError& error) {
        EXPECT_EQ(error.code(), PA_ERR_CONNECTIONREFUSED);
        EXPECT_STREQ(error.what(), pa_strerror(PA_ERR_CONNECTIONREFUSED));
    }
    EXPECT_THROW(server->createOutputGraph({48000, 2}), SoundError);
}

} // namespace zivra::platform::sound
