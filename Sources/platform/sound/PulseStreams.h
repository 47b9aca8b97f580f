#pragma once

#include "platform/sound/PulseLoop.h"

#include <pulse/stream.h>

#include <algorithm>
#include <cstddef>

// Steps that the microphone, the tone player and the output graph take alike on their streams. Each
// expects the loop to be locked by the caller (main thread). The streams stay the caller's;
// release() and signalLoop() throw nothing.
namespace zivra::platform::sound::pulse {

// Waits until a connected stream is ready. When it fails instead, or the server does not
// answer in time, releases the stream and throws SoundError with the server's code and
// description (ServerUnanswered for no answer in time).
void awaitReady(PulseLoop& loop, pa_stream*& stream);

// Throws SoundError for the loop's last error when a libpulse call that
// returns a negative status or a null object failed.
[[noreturn]] void fail(const PulseLoop& loop);

// Detaches the callbacks, disconnects and releases the stream, and sets it to null; nothing
// when it is null. Once it returns no callback of the stream runs any more.
void release(pa_stream*& stream);

// The state callback of the streams: wakes whoever waits on the loop (a PulseLoop*). Runs on
// the loop's event thread.
void signalLoop(pa_stream* stream, void* loop);

// Answers a playback stream's request for `bytes`: in the blocks the server hands out, each
// filled by fill(float* data, std::size_t frames) with interleaved frames of frameBytes. Runs
// on the loop's event thread (the write callback); allocates nothing and throws what fill
// throws. A block the server refuses ends the answer; the server asks again.
template <typename Fill>
void writeRequested(pa_stream* stream, std::size_t bytes, std::size_t frameBytes, Fill&& fill) {
    while (bytes >= frameBytes) {
        void* data = nullptr;
        std::size_t size = bytes;
        if (pa_stream_begin_write(stream, &data, &size) < 0 || !data || size < frameBytes) {
            return;
        }
        const std::size_t frames = size / frameBytes;
        fill(static_cast<float*>(data), frames);
        if (pa_stream_write(stream, data, frames * frameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            return;
        }
        bytes -= std::min(bytes, frames * frameBytes);
    }
}

} // namespace zivra::platform::sound::pulse
