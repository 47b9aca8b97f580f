#include "platform/sound/PulseCaptureDevice.h"

#include "platform/sound/RealtimeScheduling.h"
#include "platform/sound/SoundError.h"

#include <pulse/error.h>

namespace zivra::platform::sound {
namespace {

// The label of the capture thread; the kernel keeps its first 15 characters.
constexpr const char* captureThreadName = "velmora.zivra.io";

constexpr auto fragmentTime = static_cast<pa_usec_t>(captureFragmentSeconds * PA_USEC_PER_SEC);
// Nothing but a stall leaves this much unread; of such a backlog the newest
// two fragments are kept, as much as a busy machine leaves between reads.
constexpr pa_usec_t backlogTime = 20 * fragmentTime;
constexpr pa_usec_t keptTime = 2 * fragmentTime;

} // namespace

PulseCaptureDevice::PulseCaptureDevice(const std::string& source, const std::string& streamName,
                                       double rate)
    : loop_(captureThreadName) {
    requestRealtime(loop_.threadId(), audioThreadPriority);
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_FLOAT32NE;
    spec.rate = static_cast<std::uint32_t>(rate);
    spec.channels = 2;
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);

    PulseLoop::Lock lock(loop_);
    stream_ = pa_stream_new(loop_.context(), streamName.c_str(), &spec, &map);
    if (!stream_) {
        throw SoundError(loop_.lastError(), loop_.describe(loop_.lastError()));
    }
    pa_stream_set_read_callback(stream_, &PulseCaptureDevice::onRead, this);
    pa_stream_set_state_callback(stream_, &PulseCaptureDevice::onStateChanged, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(fragmentTime, &spec));
    attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_, source.c_str(), &attr, flags) < 0) {
        const int error = loop_.lastError();
        pa_stream_unref(stream_);
        throw SoundError(error, loop_.describe(error));
    }
}

PulseCaptureDevice::~PulseCaptureDevice() {
    PulseLoop::Lock lock(loop_);
    running_ = false;
    block_ = nullptr;
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
}

bool PulseCaptureDevice::isAlive() {
    PulseLoop::Lock lock(loop_);
    return pa_stream_get_state(stream_) == PA_STREAM_READY;
}

std::optional<double> PulseCaptureDevice::nominalSampleRate() {
    PulseLoop::Lock lock(loop_);
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
        return std::nullopt;
    }
    return pa_stream_get_sample_spec(stream_)->rate;
}

void PulseCaptureDevice::setEndedHandler(std::function<void()> handler) {
    PulseLoop::Lock lock(loop_);
    ended_ = std::move(handler);
}

void PulseCaptureDevice::createIOProc(CaptureBlock block) {
    PulseLoop::Lock lock(loop_);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) {
        throw SoundError(PA_ERR_BADSTATE, loop_.describe(PA_ERR_BADSTATE));
    }
    block_ = std::move(block);
}

void PulseCaptureDevice::destroyIOProc() {
    PulseLoop::Lock lock(loop_);
    running_ = false;
    block_ = nullptr;
}

void PulseCaptureDevice::start() {
    PulseLoop::Lock lock(loop_);
    if (const int status = uncork()) {
        throw SoundError(status, loop_.describe(status));
    }
    running_ = true;
}

void PulseCaptureDevice::stop() {
    // The read callback runs with the loop locked: once the lock is held here,
    // no block is running, and none starts afterwards.
    PulseLoop::Lock lock(loop_);
    running_ = false;
    // Not waited for: nothing depends on the answer, and a server that has
    // dropped the stream may never give one.
    if (pa_stream_get_state(stream_) == PA_STREAM_READY) {
        if (pa_operation* op = pa_stream_cork(stream_, 1, nullptr, nullptr)) {
            pa_operation_unref(op);
        }
    }
}

int PulseCaptureDevice::uncork() {
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
        return PA_ERR_BADSTATE;
    }
    struct Request {
        PulseLoop* loop;
        int status = 0;
    } request{&loop_};
    auto onDone = [](pa_stream* stream, int success, void* data) {
        auto* request = static_cast<Request*>(data);
        request->status = success ? 0 : pa_context_errno(pa_stream_get_context(stream));
        request->loop->signal();
    };
    pa_operation* op = pa_stream_cork(stream_, 0, onDone, &request);
    if (!op) {
        return loop_.lastError();
    }
    return loop_.await(op) ? request.status : PA_ERR_TIMEOUT;
}

void PulseCaptureDevice::onRead(pa_stream* stream, std::size_t, void* self) {
    auto* device = static_cast<PulseCaptureDevice*>(self);
    // After a stall the server hands over at once all it kept meanwhile: only
    // the newest of it is captured, the rest is stale and dropped unread.
    const pa_sample_spec* spec = pa_stream_get_sample_spec(stream);
    const bool stalled = pa_stream_readable_size(stream) > pa_usec_to_bytes(backlogTime, spec);
    const std::size_t kept = pa_usec_to_bytes(keptTime, spec);
    const void* data = nullptr;
    std::size_t bytes = 0;
    for (std::size_t readable = 0; (readable = pa_stream_readable_size(stream)) > 0;) {
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) {
            return;
        }
        const bool stale = stalled && readable >= bytes + kept;
        // A hole (no data) carries nothing to capture; it is dropped like data.
        if (data && !stale && device->running_ && device->block_) {
            const AudioBuffer buffer{2, static_cast<std::uint32_t>(bytes), const_cast<void*>(data)};
            device->block_(std::span<const AudioBuffer>(&buffer, 1));
        }
        pa_stream_drop(stream);
    }
}

void PulseCaptureDevice::onStateChanged(pa_stream* stream, void* self) {
    auto& device = *static_cast<PulseCaptureDevice*>(self);
    device.loop_.signal();
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY) {
        device.ready_ = true;
    } else if (device.ready_ && !PA_STREAM_IS_GOOD(state)) {
        device.ready_ = false;
        if (device.ended_) {
            device.ended_();
        }
    }
}

} // namespace zivra::platform::sound
