#include "audio/CaptureBlock.h"
#include "audio/EngineError.h"
#include "audio/EngineObjects.h"
#include "audio/Logging.h"
#include "audio/RenderBlock.h"
#include "audio/TapBlock.h"
#include "audio/ZivraAudio.h"
#include "platform/sound/SoundError.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <utility>

namespace zivra::audio {

namespace {

constexpr std::uint32_t ringCapacity = 0x400000;
constexpr std::uint32_t tapBufferFrames = 1024;
constexpr int maxAliveReads = 200;
constexpr std::chrono::milliseconds alivePollInterval{10};
// A playback stream that asks for less than half the sound the capture
// delivers (so the server runs) for this many looks in a row is taken as
// ended.
constexpr std::chrono::milliseconds outputWatchInterval{250};
constexpr int stalledOutputLooks = 4;

QString messageOf(const std::exception& error) {
    return QString::fromStdString(error.what());
}

// Hands work to the main thread, where it runs on the engine if that still
// exists. Any thread; allocates.
template <typename Work> void onEngine(const std::weak_ptr<EngineAnchor>& anchor, Work work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        return;
    }
    QMetaObject::invokeMethod(
        app,
        [anchor, work = std::move(work)] {
            const std::shared_ptr<EngineAnchor> alive = anchor.lock();
            if (alive && alive->engine) {
                work(*alive->engine);
            }
        },
        Qt::QueuedConnection);
}

// The blocks, counting the frames they are handed into the activity, which
// they keep. Main thread; the blocks returned run where the given ones would.
platform::sound::RenderBlock countingRenders(std::shared_ptr<StreamActivity> activity,
                                             platform::sound::RenderBlock block) {
    return [activity = std::move(activity),
            block = std::move(block)](bool& isSilence, std::uint32_t frameCount,
                                      std::span<platform::sound::AudioBuffer> output) {
        activity->renderedFrames.fetch_add(frameCount, std::memory_order_relaxed);
        block(isSilence, frameCount, output);
    };
}

platform::sound::CaptureBlock countingCaptures(std::shared_ptr<StreamActivity> activity,
                                               platform::sound::CaptureBlock block) {
    return [activity = std::move(activity),
            block = std::move(block)](std::span<const platform::sound::AudioBuffer> input) {
        // One interleaved buffer or one buffer per channel: either way the
        // first holds every frame of the block.
        if (!input.empty()) {
            const std::uint64_t frameBytes =
                4 * std::uint64_t{std::max(input[0].numberChannels, 1u)};
            activity->capturedFrames.fetch_add(input[0].dataByteSize / frameBytes,
                                               std::memory_order_relaxed);
        }
        block(input);
    };
}

// On PipeWire a playback stream may stop asking for sound, or ask for a
// trickle of it, after the server was stopped for a while and went on, while
// the capture stream delivers again; no state change tells of it. Such an
// output is told as ended, once, so that it is built anew. Looks while the
// capture delivers nothing (the server stopped), or while the server holds
// the output (`held`: a suspended sink asks for nothing until it resumes),
// count for nothing either way. Main thread; the timer returned runs there
// until the activity is gone.
std::unique_ptr<QTimer> watchOutput(std::weak_ptr<const StreamActivity> watched,
                                    std::function<bool()> held, std::function<void()> ended) {
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(outputWatchInterval);
    QObject::connect(timer.get(), &QTimer::timeout, timer.get(),
                     [timer = timer.get(), watched = std::move(watched), held = std::move(held),
                      ended = std::move(ended), rendered = std::uint64_t{0},
                      captured = std::uint64_t{0}, stalled = 0]() mutable {
                         const std::shared_ptr<const StreamActivity> activity = watched.lock();
                         if (!activity) {
                             timer->stop();
                             return;
                         }
                         const std::uint64_t renderedNow =
                             activity->renderedFrames.load(std::memory_order_relaxed);
                         const std::uint64_t capturedNow =
                             activity->capturedFrames.load(std::memory_order_relaxed);
                         const std::uint64_t renders = renderedNow - rendered;
                         const std::uint64_t captures = capturedNow - captured;
                         rendered = renderedNow;
                         captured = capturedNow;
                         if (held()) {
                             stalled = 0;
                         } else if (captures > 0) {
                             // A backlog handed over at once after a stall outweighs one
                             // look's rendering, never several in a row.
                             stalled = renders * 2 < captures ? stalled + 1 : 0;
                         }
                         if (stalled == stalledOutputLooks) {
                             qCWarning(engineLog)
                                 << "The output stream asks for less sound than the capture "
                                    "stream delivers";
                             timer->stop();
                             ended();
                         }
                     });
    timer->start();
    return timer;
}

} // namespace

std::function<void(const MeterReading&)>
ZivraAudio::meterPublisher(std::weak_ptr<EngineAnchor> anchor) {
    return [anchor = std::move(anchor)](const MeterReading& reading) {
        onEngine(anchor, [reading](ZivraAudio& engine) {
            engine.setWaveformSamples(
                QList<float>(reading.waveform.begin(), reading.waveform.end()));
            engine.setOutputLevel(reading.level);
        });
    };
}

void ZivraAudio::setup(SetupDone done) {
    try {
        setupCapture();
    } catch (const std::exception& error) {
        done(messageOf(error));
        return;
    }
    waitForAggregateDeviceAlive(0, [this, done = std::move(done)](std::optional<QString> error) {
        if (!error) {
            try {
                setupGraph();
            } catch (const std::exception& failure) {
                error = messageOf(failure);
            }
        }
        done(error);
    });
}

// The tap that takes every other program's sound and the capture device that
// reads it.
void ZivraAudio::setupCapture() {
    EngineObjects& o = *objects_;
    startListeningForDeviceChanges();
    o.outputDevice = physicalOutputDeviceID();
    if (deviceUID(o.outputDevice).isEmpty()) {
        throw EngineError("Could not read output device UID");
    }

    platform::sound::TapDescription description{"Zivra Tap", static_cast<long>(getpid())};
    try {
        o.tap = o.environment.sound->createTap(description);
    } catch (const platform::sound::TapLockHeld&) {
        o.startMetHeldLock = true;
        throw;
    }
    const std::optional<platform::sound::StreamFormat> format = o.tap->format();
    if (!format || !(format->sampleRate > 0) || format->channels == 0) {
        throw EngineError("Could not read tap format");
    }
    o.tapFormat = *format;
    o.captureDevice = o.environment.sound->createCaptureDevice(*o.tap, "Zivra Aggregate");
    o.captureDevice->setEndedHandler(streamEndedNotice(o.anchor, o.generation, "capture"));
}

void ZivraAudio::waitForAggregateDeviceAlive(int reads, SetupDone done) {
    if (objects_->captureDevice->isAlive()) {
        done(std::nullopt);
        return;
    }
    ++reads;
    const std::uint64_t generation = objects_->generation;
    objects_->environment.sleep(alivePollInterval, [guard = QPointer(this), generation, reads,
                                                    done = std::move(done)]() mutable {
        if (!guard || guard->objects_->generation != generation) {
            return;
        }
        if (reads == maxAliveReads) {
            done(QStringLiteral("Audio aggregate device did not become alive"));
        } else {
            guard->waitForAggregateDeviceAlive(reads, std::move(done));
        }
    });
}

std::function<void()> ZivraAudio::streamEndedNotice(std::weak_ptr<EngineAnchor> anchor,
                                                    std::uint64_t generation, const char* stream) {
    return [anchor = std::move(anchor), generation, stream] {
        onEngine(anchor, [generation, stream](ZivraAudio& engine) {
            engine.followEndedStream(generation, stream);
        });
    };
}

// The playback graph on the physical output, fed from a fresh ring.
void ZivraAudio::setupGraph() {
    EngineObjects& o = *objects_;
    const double nominalRate = o.captureDevice->nominalSampleRate().value_or(0);
    const double rate = nominalRate > 0 ? nominalRate : o.tapFormat.sampleRate;
    if (!std::isfinite(rate)) {
        throw EngineError("Could not create audio format");
    }

    o.graph = o.environment.sound->createOutputGraph(platform::sound::StreamFormat{rate, 2});
    if (!o.graph) {
        throw EngineError("Could not create engine");
    }
    o.graph->setPitch(pitchEnabled_ ? pitchCents_ : 0.0f);
    o.graph->setBypass(!pitchEnabled_);

    o.ring = std::make_shared<RingBuffer>(ringCapacity);
    o.renderCounters = std::make_shared<RenderCounters>();
    const auto activity = std::make_shared<StreamActivity>();
    o.activity = activity;
    o.graph->setSource(countingRenders(
        activity,
        makeRenderBlock(o.ring, audioParams_, RingLevel::forSampleRate(rate), o.renderCounters)));
    if (o.graph->setOutputDevice(o.outputDevice) != 0) {
        qCWarning(engineLog) << "Output device" << o.outputDevice
                             << "is gone; the engine plays on the default output";
    }
    o.graph->setEndedHandler(streamEndedNotice(o.anchor, o.generation, "output"));

    if (o.graph->streamMixerChannelCount() > 0) {
        o.graph->installTap(tapBufferFrames,
                            makeTapBlock(o.anchor, handoffAppendHandler, meterPublisher(o.anchor)));
    }
    o.captureDevice->createIOProc(countingCaptures(activity, makeCaptureBlock(o.ring)));
    o.ioProcInstalled = true;
}

void ZivraAudio::startStreams() {
    EngineObjects& o = *objects_;
    if (o.ring) {
        o.ring->clear();
    }
    if (o.ioProcInstalled && o.captureDevice) {
        o.captureDevice->start();
    }
    if (o.graph) {
        o.graph->start();
        o.graph->setVolume(handoffActive_ ? 0.0f : 1.0f);
        const auto held = [anchor = std::weak_ptr(o.anchor)] {
            const std::shared_ptr<EngineAnchor> alive = anchor.lock();
            return alive && alive->engine && alive->engine->objects_->graph &&
                   alive->engine->objects_->graph->isHeld();
        };
        o.outputWatch =
            watchOutput(o.activity, held, streamEndedNotice(o.anchor, o.generation, "output"));
    }
}

void ZivraAudio::dropOutput() {
    EngineObjects& o = *objects_;
    // The capture goes on without an output to watch.
    o.outputWatch.reset();
    if (o.graph) {
        o.graph->removeTap();
        o.graph->stop();
        o.graph.reset();
    }
}

bool ZivraAudio::moveOutput() {
    EngineObjects& o = *objects_;
    if (!o.tap || !o.captureDevice || !o.captureDevice->isAlive() || tapGone()) {
        return false;
    }
    qCInfo(engineLog) << "The engine moves to another output device";
    dropOutput();
    if (o.ioProcInstalled) {
        o.captureDevice->stop();
        o.captureDevice->destroyIOProc();
        o.ioProcInstalled = false;
    }
    // News of the streams replaced here is passed over.
    ++o.generation;
    try {
        o.captureDevice->setEndedHandler(streamEndedNotice(o.anchor, o.generation, "capture"));
        o.outputDevice = physicalOutputDeviceID();
        setupGraph();
        startStreams();
    } catch (const std::exception& error) {
        qCWarning(engineLog) << "The engine could not move to output device" << o.outputDevice
                             << ":" << error.what();
        // The tap keeps the programs' streams while the output is tried again.
        waitForOutput();
        if (!retryStartLater()) {
            stopWithError(messageOf(error));
        }
        return true;
    }
    qCInfo(engineLog) << "The engine runs, playing on output device" << o.outputDevice;
    forgetFailedStart();
    o.waitingForOutput = false;
    setStatusText(QString());
    return true;
}

std::shared_ptr<const RenderCounters> ZivraAudio::renderCounters() const {
    return objects_->graph ? objects_->renderCounters : nullptr;
}

} // namespace zivra::audio
