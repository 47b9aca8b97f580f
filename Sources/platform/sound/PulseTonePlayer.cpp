#include "platform/sound/PulseTonePlayer.h"

#include "platform/sound/PulseStreams.h"
#include "platform/sound/SoundError.h"

#include <pulse/error.h>
#include <pulse/proplist.h>
#include <pulse/timeval.h>

#include <unistd.h>

#include <algorithm>
#include <string>

namespace zivra::platform::sound {
namespace {

constexpr const char* toneThreadName = "zivra.tone";
constexpr const char* streamName = "Zivra Reference Tone";

// A steady tone needs no low latency: a quarter of a second in the server's buffer keeps it
// whole on a busy machine, and stopping does not wait for it (the stream is dropped).
constexpr pa_usec_t targetLatency = 250 * PA_USEC_PER_MSEC;

WaveData decoded(std::span<const std::uint8_t> wave) {
    std::optional<WaveData> sound = decodeWave(wave);
    if (!sound || sound->channels > PA_CHANNELS_MAX || sound->sampleRate > PA_RATE_MAX) {
        throw SoundError(PA_ERR_INVALID, pa_strerror(PA_ERR_INVALID));
    }
    return std::move(*sound);
}

} // namespace

std::unique_ptr<TonePlayer> createTonePlayer(std::span<const std::uint8_t> wave, float volume) {
    return std::make_unique<PulseTonePlayer>(decoded(wave), volume);
}

PulseTonePlayer::PulseTonePlayer(WaveData sound, float volume)
    : sound_(std::move(sound)), loop_(toneThreadName), volume_(volume) {
    PulseLoop::Lock lock(loop_);
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_FLOAT32NE;
    spec.rate = sound_.sampleRate;
    spec.channels = static_cast<std::uint8_t>(sound_.channels);
    // The system-audio tap leaves the streams of Zivra's own process where they are; the
    // stream says whose it is rather than leaving that to the client's properties.
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_PROCESS_ID, std::to_string(getpid()).c_str());
    stream_ = pa_stream_new_with_proplist(loop_.context(), streamName, &spec, nullptr, properties);
    pa_proplist_free(properties);
    if (!stream_) {
        pulse::fail(loop_);
    }
    pa_stream_set_state_callback(stream_, &pulse::signalLoop, &loop_);
    pa_stream_set_write_callback(stream_, &PulseTonePlayer::onWrite, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(targetLatency, &spec));
    attr.prebuf = attr.minreq = attr.fragsize = static_cast<std::uint32_t>(-1);
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
    pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr);
    pulse::awaitReady(loop_, stream_);
}

PulseTonePlayer::~PulseTonePlayer() {
    stop();
}

void PulseTonePlayer::play() {
    PulseLoop::Lock lock(loop_);
    if (stream_) {
        auto onDone = [](pa_stream*, int, void* loop) { static_cast<PulseLoop*>(loop)->signal(); };
        loop_.await(pa_stream_cork(stream_, 0, onDone, &loop_));
    }
}

void PulseTonePlayer::stop() {
    // Writes run with the loop locked: once it is held here none is running, and after the
    // release none is requested any more.
    PulseLoop::Lock lock(loop_);
    pulse::release(stream_);
}

void PulseTonePlayer::onWrite(pa_stream* stream, std::size_t bytes, void* self) {
    auto* player = static_cast<PulseTonePlayer*>(self);
    pulse::writeRequested(stream, bytes, player->sound_.channels * sizeof(float),
                          [player](float* data, std::size_t frames) {
                              player->fill(data, frames * player->sound_.channels);
                          });
}

void PulseTonePlayer::fill(float* out, std::size_t samples) {
    const std::vector<float>& sound = sound_.samples;
    while (samples > 0) {
        const std::size_t run = std::min(samples, sound.size() - position_);
        for (std::size_t i = 0; i < run; ++i) {
            out[i] = sound[position_ + i] * volume_;
        }
        out += run;
        samples -= run;
        position_ = (position_ + run) % sound.size();
    }
}

} // namespace zivra::platform::sound
