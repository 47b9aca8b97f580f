#pragma once

#include "platform/sound/PulseLoop.h"

#include <pulse/stream.h>

// Steps that the microphone and the tone player take alike on their streams. Each expects the
// loop to be locked by the caller (main thread). The streams stay the caller's; release()
// and signalLoop() throw nothing.
namespace zivra::platform::sound::pulse {

// Waits until a connected stream is ready. When it fails instead, releases the stream and
// throws SoundError with the server's code and description.
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

} // namespace zivra::platform::sound::pulse
