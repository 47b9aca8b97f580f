#pragma once

#include "platform/sound/PulseLoop.h"
#include "platform/sound/TonePlayer.h"
#include "platform/sound/WaveData.h"

#include <pulse/stream.h>

#include <cstddef>

namespace zivra::platform::sound {

// The tone player as a playback stream on the default sink, on its own connection, whose event
// thread fills the stream from the decoded sound, wrapping from its end to its start. The
// contract is TonePlayer's: main thread, owned by its creator, keeps its own copy of the sound.
class PulseTonePlayer : public TonePlayer {
public:
    // Connects and opens the stream, corked; throws SoundError.
    PulseTonePlayer(WaveData sound, float volume);
    ~PulseTonePlayer() override;

    void play() override;
    void stop() override;

private:
    static void onWrite(pa_stream* stream, std::size_t bytes, void* self);
    void fill(float* out, std::size_t samples);

    const WaveData sound_;
    PulseLoop loop_;
    pa_stream* stream_ = nullptr;
    std::size_t position_ = 0; // the next sample to play; used on the event thread
    const float volume_;
};

} // namespace zivra::platform::sound
