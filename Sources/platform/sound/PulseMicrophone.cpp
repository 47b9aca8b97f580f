#include "platform/sound/PulseMicrophone.h"

#include "platform/sound/PulseStreams.h"

#include <pulse/error.h>
#include <pulse/timeval.h>

#include <algorithm>

namespace zivra::platform::sound {
namespace {

constexpr const char* microphoneThreadName = "zivra.microphon";
constexpr const char* streamName = "Zivra Tuner";

// The server hands over what it has every 20 ms or so; buffers are gathered from that.
constexpr pa_usec_t fragmentTime = 20 * PA_USEC_PER_MSEC;

} // namespace

std::unique_ptr<Microphone> createMicrophone() {
    return std::make_unique<PulseMicrophone>();
}

void whenServerAnswers(std::function<void()> answered) {
    PulseLoop::whenServerAnswers(std::move(answered));
}

PulseMicrophone::PulseMicrophone() : loop_(microphoneThreadName) {}

PulseMicrophone::~PulseMicrophone() {
    stop();
}

void PulseMicrophone::start(std::uint32_t bufferFrames, MicrophoneBlock block) {
    stop();
    PulseLoop::Lock lock(loop_);
    // Rate and channels here are placeholders: the stream takes the source's own.
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_FLOAT32NE;
    spec.rate = 48000;
    spec.channels = 1;
    stream_ = pa_stream_new(loop_.context(), streamName, &spec, nullptr);
    if (!stream_) {
        pulse::fail(loop_);
    }
    pa_stream_set_state_callback(stream_, &pulse::signalLoop, &loop_);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(fragmentTime, &spec));
    attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_FIX_RATE | PA_STREAM_FIX_CHANNELS |
                                                      PA_STREAM_ADJUST_LATENCY);
    pa_stream_connect_record(stream_, nullptr, &attr, flags);
    pulse::awaitReady(loop_, stream_);

    const pa_sample_spec* actual = pa_stream_get_sample_spec(stream_);
    sampleRate_ = actual->rate;
    bufferFrames_ = std::max<std::uint32_t>(bufferFrames, 1);
    filled_ = 0;
    channels_.assign(actual->channels, std::vector<float>(bufferFrames_));
    channelPointers_.clear();
    for (const std::vector<float>& channel : channels_) {
        channelPointers_.push_back(channel.data());
    }
    block_ = std::move(block);
    // What arrived while the stream was getting ready waits in its buffer until this read.
    pa_stream_set_read_callback(stream_, &PulseMicrophone::onRead, this);
}

void PulseMicrophone::stop() {
    // Reads run with the loop locked: once it is held here no block is running, and after the
    // release none is called any more.
    PulseLoop::Lock lock(loop_);
    pulse::release(stream_);
    block_ = nullptr;
}

void PulseMicrophone::onRead(pa_stream* stream, std::size_t, void* self) {
    auto* microphone = static_cast<PulseMicrophone*>(self);
    const std::size_t frameBytes = microphone->channels_.size() * sizeof(float);
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) {
            return;
        }
        // A hole (no data) carries nothing to hear.
        if (data) {
            microphone->gather(static_cast<const float*>(data), bytes / frameBytes);
        }
        pa_stream_drop(stream);
    }
}

void PulseMicrophone::gather(const float* interleaved, std::size_t frames) {
    const std::size_t channelCount = channels_.size();
    for (std::size_t frame = 0; frame < frames; ++frame) {
        for (std::size_t channel = 0; channel < channelCount; ++channel) {
            channels_[channel][filled_] = interleaved[frame * channelCount + channel];
        }
        if (++filled_ == bufferFrames_) {
            filled_ = 0;
            block_(PcmBufferView{channelPointers_.data(), static_cast<std::uint32_t>(channelCount),
                                 bufferFrames_, sampleRate_});
        }
    }
}

} // namespace zivra::platform::sound
