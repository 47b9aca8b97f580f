#pragma once

#include "platform/sound/AudioBuffers.h"
#include "platform/sound/CaptureDevice.h"
#include "platform/sound/OutputGraph.h"
#include "platform/sound/Tap.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zivra::platform::sound {

// One output device as the server lists it.
struct SinkInfo {
    std::uint32_t index = 0;          // the server's sink index: the device's identifier
    std::string name;                 // the sink's name: the device's unique identifier
    std::string description;          // what the user reads: the device's name
    std::uint32_t outputChannels = 0; // 0 when the device has no output stream
};

// The two device changes that can be followed.
enum class DeviceChange {
    sinkList,    // a sink appeared or disappeared
    defaultSink, // the server's default sink is another one
};

// Identifies a registered listener; 0 means "not registered".
using ListenerId = std::uint64_t;

// Zivra's client of the sound server: devices, the default output, change
// notifications, and the factories of the capture and playback objects. All
// operations are made on the main thread and answer synchronously. Shared by
// the engine through std::shared_ptr; the objects the factories return are
// the caller's, and listeners' callbacks are kept until removed. Calls that do
// not say they throw SoundError throw nothing but std::bad_alloc.
class SoundServer {
public:
    virtual ~SoundServer() = default;

    // Every sink in the server's order but Zivra's own tap, which is no
    // output; empty when the server cannot be asked.
    virtual std::optional<std::vector<SinkInfo>> sinks() = 0;

    // One sink by index; empty when it does not exist or cannot be read.
    virtual std::optional<SinkInfo> sink(std::uint32_t index) = 0;

    // Index of the server's default sink; empty when there is none. Throws
    // SoundError with the server's own message when the server cannot be
    // reached, so a start fails with that message rather than a vague one.
    virtual std::optional<std::uint32_t> defaultSink() = 0;

    // Makes the sink the server's default. Returns 0 or the server's error
    // code. On success it returns only once the server reports the new
    // default, so an immediate defaultSink() already sees it.
    virtual int setDefaultSink(std::uint32_t index) = 0;

    // Registers a callback for one kind of change, delivered on the Qt main
    // thread (it needs a running QCoreApplication event loop). Returns 0 when
    // the server cannot be subscribed to. A removed listener is never called
    // again, also not for changes that were already under way.
    virtual ListenerId addListener(DeviceChange change, std::function<void()> callback) = 0;
    virtual void removeListener(ListenerId id) = 0;

    // Registers a callback told on the Qt main thread when the server goes
    // away (false) and when it answers again after that (true); while it is
    // away, a new connection is tried a few times a second. A server that
    // left a wait unanswered (slow, stopped or hung) has not gone away: it is
    // told as answering (true) once it answers again, so that what it could
    // not be asked meanwhile is asked then. Needs no connection; removed with
    // removeListener(). A server that never goes away has no such news and
    // registers nothing (returns 0).
    virtual ListenerId addServerListener(std::function<void(bool answers)>) { return 0; }

    // Whether the server is away, or left a wait unanswered and has not
    // answered since: what failed meanwhile is tried again once it answers
    // (the server listeners hear it), not sooner. A server that never goes
    // away always answers.
    virtual bool awaitsAnswer() { return false; }

    // Creates the system-audio tap. A tap left behind by an earlier run that
    // ended without removing it is removed first, so no stream stays trapped.
    // Throws SoundError; TapLockHeld while another Zivra or tap guard makes
    // or removes a tap.
    virtual std::unique_ptr<Tap> createTap(const TapDescription& description) = 0;

    // Creates the capture device that reads the tap, under the stream name
    // given. The tap must outlive it. Throws SoundError.
    virtual std::unique_ptr<CaptureDevice> createCaptureDevice(const Tap& tap,
                                                               const std::string& name) = 0;

    // Creates a stopped playback graph for the format given (float32, the
    // format's rate and channel count). Throws SoundError.
    virtual std::unique_ptr<OutputGraph> createOutputGraph(const StreamFormat& format) = 0;
};

// The real sound server client (libpulse: PulseAudio and PipeWire alike).
// Connects on first use and again after the server went away.
std::shared_ptr<SoundServer> createSoundServer();

// Removes a tap that an earlier run of Zivra left behind (when its guard
// could not) and so gives its streams back: to the sinks they came from when
// their routes were kept (TapRoutesFile.h), otherwise to the default sink; the
// tap of a Zivra that still runs stays. Called at every start of Zivra,
// before anything else touches sound. Does nothing
// while another Zivra or tap guard holds the tap lock (TapLock.h), never
// waiting for it. Any thread; blocks until the server has answered; throws
// SoundError when the server cannot be reached.
void removeLeftoverTap();

} // namespace zivra::platform::sound
