#include "platform/sound/PulseStreams.h"

#include "platform/sound/SoundError.h"

#include <pulse/error.h>

namespace zivra::platform::sound::pulse {

void awaitReady(PulseLoop& loop, pa_stream*& stream) {
    const PulseLoop::Clock::time_point start = PulseLoop::Clock::now();
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY) {
            return;
        }
        if (!PA_STREAM_IS_GOOD(state)) {
            const int error = loop.lastError();
            release(stream);
            throw SoundError(error, loop.describe(error));
        }
        if (!loop.waitSince(start)) {
            release(stream);
            throw ServerUnanswered(PA_ERR_TIMEOUT, loop.describe(PA_ERR_TIMEOUT));
        }
    }
}

void fail(const PulseLoop& loop) {
    const int error = loop.lastError();
    throw SoundError(error, loop.describe(error));
}

void release(pa_stream*& stream) {
    if (!stream) {
        return;
    }
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
}

void signalLoop(pa_stream*, void* loop) {
    static_cast<PulseLoop*>(loop)->signal();
}

} // namespace zivra::platform::sound::pulse
