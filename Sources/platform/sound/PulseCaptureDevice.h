#pragma once

#include "platform/sound/CaptureDevice.h"
#include "platform/sound/PulseLoop.h"

#include <pulse/stream.h>
#include <pulse/timeval.h>

#include <functional>
#include <string>

namespace zivra::platform::sound {

// The capture device as a record stream on its own connection, whose event
// thread is the capture thread, run in real time where allowed
// (requestRealtime). The stream is connected corked at once; start() uncorks
// it. The contract is CaptureDevice's: main thread, owned by its creator,
// errors as SoundError.
class PulseCaptureDevice : public CaptureDevice {
public:
    // Throws SoundError when the server cannot be reached or refuses the stream.
    PulseCaptureDevice(const std::string& source, const std::string& streamName, double rate);
    ~PulseCaptureDevice() override;

    bool isAlive() override;
    std::optional<double> nominalSampleRate() override;
    void setEndedHandler(std::function<void()> handler) override;
    void createIOProc(CaptureBlock block) override;
    void destroyIOProc() override;
    void start() override;
    void stop() override;

private:
    static void onRead(pa_stream* stream, std::size_t bytes, void* self);
    static void onStateChanged(pa_stream* stream, void* self);
    // Starts the stream and waits for the answer: 0 or the server's error code.
    int uncork();

    PulseLoop loop_;
    pa_stream* stream_ = nullptr;
    CaptureBlock block_;   // set and cleared with the loop locked
    bool running_ = false; // likewise
    // Told when the stream ends once it was ready; both changed with the
    // loop locked, so an ending is told once and never for a failed connection.
    std::function<void()> ended_;
    bool ready_ = false;
};

} // namespace zivra::platform::sound
