#pragma once

#include "audio/RenderBlock.h"
#include "audio/RingBuffer.h"
#include "audio/ZivraAudioEnvironment.h"
#include "platform/sound/SoundServer.h"

#include <QTimer>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zivra::audio {

class ZivraAudio;

// Lets the audio threads find out whether the engine still exists. The
// pointer is cleared on the main thread when the engine goes away and read
// only there.
struct EngineAnchor {
    ZivraAudio* engine = nullptr;
};

// The frames the audio threads' blocks were handed: counted lock-free on the
// capture and render threads, read on the main thread. Kept alive by the
// blocks that count into it.
struct StreamActivity {
    std::atomic<std::uint64_t> capturedFrames{0};
    std::atomic<std::uint64_t> renderedFrames{0};
};

// The devices as a start met them: every sink (index and uid) in the
// server's order and the default among them (empty when the default is no
// listed sink, as Zivra's own tap is not). A plain value.
struct DeviceSnapshot {
    std::vector<std::pair<std::uint32_t, std::string>> sinks;
    std::optional<std::uint32_t> defaultSink;
    bool operator==(const DeviceSnapshot&) const = default;
};

// A start that failed while the engine was still needed, followed until one
// succeeds or nothing needs the engine (ZivraAudio::retryFailedStart()).
struct StartRetry {
    bool active = false;
    int failures = 0;          // in a row: how long the next wait is
    int unchangedFailures = 0; // in a row on the same devices: when to stop trying
    DeviceSnapshot devices;    // as the last failure met them
    std::uint64_t timer = 0;   // the waiting retry's token; 0 when none waits
    bool waitsForLock = false; // the last failures met the tap lock held
};

// Everything the engine holds of the platform: its services, the objects of
// the current audio graph (each set as soon as it exists, so that cleanup()
// finds whatever a failed build left) and the listener registrations. Owned
// by the engine and touched only on the main thread; the ring and counters are
// shared with the audio callbacks that keep them alive. A plain record: nothing
// throws beyond std::bad_alloc in the constructor.
struct EngineObjects {
    EngineObjects(ZivraAudioEnvironment environment, ZivraAudio* engine)
        : environment(std::move(environment)),
          anchor(std::make_shared<EngineAnchor>(EngineAnchor{engine})) {}

    ZivraAudioEnvironment environment;
    std::shared_ptr<EngineAnchor> anchor;

    std::uint32_t outputDevice = 0;
    std::unique_ptr<platform::sound::Tap> tap;
    platform::sound::StreamFormat tapFormat;
    std::unique_ptr<platform::sound::CaptureDevice> captureDevice;
    bool ioProcInstalled = false;
    std::unique_ptr<platform::sound::OutputGraph> graph;
    std::shared_ptr<RingBuffer> ring;
    std::shared_ptr<RenderCounters> renderCounters;
    // The current graph's activity, and the timer that watches its output
    // (ZivraAudio::startStreams()); the timer ends once the activity is gone.
    std::weak_ptr<StreamActivity> activity;
    std::unique_ptr<QTimer> outputWatch;

    platform::sound::ListenerId deviceListener = 0;
    platform::sound::ListenerId defaultOutputListener = 0;
    // Held for the engine's whole life, unlike the two above.
    platform::sound::ListenerId serverListener = 0;

    // One graph is built at a time; requests that arrive meanwhile are
    // answered once the build has finished. Every cleanup() starts a new
    // generation, which abandons a build that is still waiting.
    bool isBuilding = false;
    bool reevaluateAfterBuild = false;
    bool restartAfterBuild = false; // the output changed while it was built
    std::uint64_t generation = 0;

    // The running engine has lost its last output and holds only the tap.
    bool waitingForOutput = false;
    // The sound server went away and has not answered since: a start cannot
    // but fail, and a needed engine holds nothing until it answers.
    bool serverAway = false;
    // The chosen output could not be made the default; made once the server
    // answers again after it went away.
    bool outputToApply = false;
    // The start that failed last met the tap lock held by another process.
    bool startMetHeldLock = false;
    // Starts made, since the last that succeeded, because the server answered
    // again after a wait ran out, and the token of the wait before the next
    // one (0 when none waits).
    int unansweredStarts = 0;
    std::uint64_t answeredStartTimer = 0;
    // A start that failed because the server did not answer has been said in
    // the log since the server last answered: every click during that
    // silence fails the same way.
    bool saidUnansweredStart = false;

    StartRetry retry;
    std::uint64_t nextRetryTimer = 1;
};

} // namespace zivra::audio
