#pragma once

#include "platform/sound/Microphone.h"
#include "platform/sound/PulseLoop.h"

#include <pulse/stream.h>

#include <vector>

namespace zivra::platform::sound {

// The microphone as a record stream on the default source, on its own connection, whose event
// thread is the microphone's thread. The stream takes the source's rate and channels; the
// samples are gathered, channel by channel, until a buffer is full. The contract is
// Microphone's: main thread, owned by its creator, errors as SoundError.
class PulseMicrophone : public Microphone {
public:
    // Connects; throws SoundError.
    PulseMicrophone();
    ~PulseMicrophone() override;

    void start(std::uint32_t bufferFrames, MicrophoneBlock block) override;
    void stop() override;

private:
    static void onRead(pa_stream* stream, std::size_t bytes, void* self);
    void gather(const float* interleaved, std::size_t frames);

    PulseLoop loop_;
    pa_stream* stream_ = nullptr;
    // Set up with the loop locked before the stream delivers; used on the event thread.
    MicrophoneBlock block_;
    std::vector<std::vector<float>> channels_;
    std::vector<const float*> channelPointers_;
    std::uint32_t bufferFrames_ = 0;
    std::uint32_t filled_ = 0;
    double sampleRate_ = 0;
};

} // namespace zivra::platform::sound
