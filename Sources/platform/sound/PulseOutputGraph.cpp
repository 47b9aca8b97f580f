#include "platform/sound/PulseOutputGraph.h"

#include "platform/sound/PulseQueries.h"
#include "platform/sound/PulseStreams.h"
#include "platform/sound/RealtimeScheduling.h"
#include "platform/sound/SoundError.h"
#include "platform/sound/TapModules.h"

#include <pulse/error.h>

namespace zivra::platform::sound {
namespace {

constexpr const char* renderThreadName = "zivra.render";
constexpr const char* streamName = "Zivra";

// The server's buffer for the stream, all of it delay: measured as the
// shortest that plays without underruns on PipeWire and PulseAudio with every
// core busy. Requests of one capture fragment keep the ring's level low.
constexpr pa_usec_t targetLatency = 15 * PA_USEC_PER_MSEC;
constexpr pa_usec_t requestTime = 5 * PA_USEC_PER_MSEC;

// Refused before anything is built on it: the render graph and the stream
// need a stereo format with a real rate.
const StreamFormat& playable(const StreamFormat& format) {
    if (format.channels != 2 || !(format.sampleRate > 0) || format.sampleRate > PA_RATE_MAX) {
        throw SoundError(PA_ERR_NOTSUPPORTED, pa_strerror(PA_ERR_NOTSUPPORTED));
    }
    return format;
}

} // namespace

PulseOutputGraph::PulseOutputGraph(const StreamFormat& format)
    : format_(playable(format)), loop_(renderThreadName), graph_(format.sampleRate) {
    requestRealtime(loop_.threadId(), audioThreadPriority);
}

PulseOutputGraph::~PulseOutputGraph() {
    stop();
    graph_.tap().remove();
}

void PulseOutputGraph::setSource(RenderBlock block) {
    PulseLoop::Lock lock(loop_);
    graph_.setSource(std::move(block));
}

void PulseOutputGraph::setPitch(float cents) {
    graph_.timePitch().setPitch(cents);
}

void PulseOutputGraph::setBypass(bool bypass) {
    graph_.timePitch().setBypass(bypass);
}

std::uint32_t PulseOutputGraph::streamMixerChannelCount() const {
    return format_.channels;
}

void PulseOutputGraph::installTap(std::uint32_t bufferFrames, TapBlock block) {
    graph_.tap().install(bufferFrames, std::move(block));
}

void PulseOutputGraph::removeTap() {
    graph_.tap().remove();
}

int PulseOutputGraph::setOutputDevice(std::uint32_t sinkIndex) {
    PulseLoop::Lock lock(loop_);
    const auto sink = pulse::sinkByIndex(loop_, sinkIndex);
    if (!sink || sink->info.name == pulse::tapSinkName) {
        sinkName_.reset();
        return PA_ERR_NOENTITY;
    }
    sinkName_ = sink->info.name;
    return 0;
}

void PulseOutputGraph::setEndedHandler(std::function<void()> handler) {
    PulseLoop::Lock lock(loop_);
    ended_ = std::move(handler);
}

void PulseOutputGraph::setVolume(float volume) {
    graph_.setVolume(volume);
}

float PulseOutputGraph::volume() const {
    return graph_.volume();
}

void PulseOutputGraph::start() {
    PulseLoop::Lock lock(loop_);
    if (stream_) {
        return;
    }
    // Without a sink of its own the stream goes to the default sink, which is
    // Zivra's tap while no other sink exists: it never plays into its own tap.
    if (!sinkName_ && pulse::defaultSinkName(loop_) == pulse::tapSinkName) {
        throw SoundError(PA_ERR_NOENTITY, loop_.describe(PA_ERR_NOENTITY));
    }
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_FLOAT32NE;
    spec.rate = static_cast<std::uint32_t>(format_.sampleRate);
    spec.channels = 2;
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    stream_ = pa_stream_new(loop_.context(), streamName, &spec, &map);
    if (!stream_) {
        pulse::fail(loop_);
    }
    pa_stream_set_write_callback(stream_, &PulseOutputGraph::onWrite, this);
    pa_stream_set_state_callback(stream_, &PulseOutputGraph::onState, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(targetLatency, &spec));
    attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(requestTime, &spec));
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(-1);
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(stream_, sinkName_ ? sinkName_->c_str() : nullptr, &attr, flags,
                                   nullptr, nullptr) < 0) {
        // Read before the release, whose own calls would set it anew.
        const int error = loop_.lastError();
        pulse::release(stream_);
        throw SoundError(error, loop_.describe(error));
    }
    pulse::awaitReady(loop_, stream_);
    playing_ = true;
}

void PulseOutputGraph::stop() {
    // Write requests run with the loop locked: once it is held here no render
    // cycle runs, and after the release none is requested any more.
    PulseLoop::Lock lock(loop_);
    playing_ = false;
    pulse::release(stream_);
}

bool PulseOutputGraph::isHeld() const {
    PulseLoop::Lock lock(loop_);
    return stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY &&
           (pa_stream_is_suspended(stream_) == 1 || pa_stream_is_corked(stream_) == 1);
}

void PulseOutputGraph::onState(pa_stream* stream, void* self) {
    auto& graph = *static_cast<PulseOutputGraph*>(self);
    graph.loop_.signal();
    if (graph.playing_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        graph.playing_ = false;
        if (graph.ended_) {
            graph.ended_();
        }
    }
}

void PulseOutputGraph::onWrite(pa_stream* stream, std::size_t bytes, void* self) {
    auto& graph = static_cast<PulseOutputGraph*>(self)->graph_;
    constexpr std::size_t frameBytes = 2 * sizeof(float);
    // The server sizes the buffer to its quantum, which it may force far
    // beyond the latency asked for (8192 frames and more); read at every
    // request, as the server changes it while the stream plays.
    const pa_buffer_attr* attr = pa_stream_get_buffer_attr(stream);
    const auto bufferFrames = static_cast<std::uint32_t>(attr ? attr->tlength / frameBytes : 0);
    pulse::writeRequested(stream, bytes, frameBytes, [&](float* data, std::size_t frames) {
        graph.renderPaced(data, static_cast<std::uint32_t>(frames), RenderPace::Clock::now(),
                          bufferFrames);
    });
}

} // namespace zivra::platform::sound
