#include "platform/sound/PulseSoundServer.h"

#include "platform/sound/Logging.h"
#include "platform/sound/PulseCaptureDevice.h"
#include "platform/sound/PulseOutputGraph.h"
#include "platform/sound/PulseQueries.h"
#include "platform/sound/PulseTap.h"
#include "platform/sound/SoundError.h"
#include "platform/sound/TapLock.h"
#include "platform/sound/TapModules.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/rtclock.h>

#include <chrono>
#include <thread>

namespace zivra::platform::sound {
namespace {

// A new default shows in the server's info a little after the server has
// acknowledged it (about 10 ms on PipeWire); callers read it right away.
constexpr auto defaultSettleStep = std::chrono::milliseconds(2);
constexpr int defaultSettleSteps = 500;

// After a server event an unchanged default is asked again this often, this
// far apart, before the event counts as some other change of the server.
constexpr int defaultSettleChecks = 5;
constexpr pa_usec_t defaultSettleCheckDelay = 20 * PA_USEC_PER_MSEC;

} // namespace

std::shared_ptr<SoundServer> createSoundServer() {
    return std::make_shared<PulseSoundServer>();
}

void removeLeftoverTap() {
    // Whoever holds the lock is removing or making a tap right now; a tap
    // left behind is then removed by the first start of the engine.
    const TapLock oneAtATime(TapLock::Wait::never);
    if (!oneAtATime.taken()) {
        qCInfo(soundLog) << "Another Zivra or tap guard is making or removing a tap; a tap left "
                            "behind is looked for at the first start";
        return;
    }
    PulseLoop loop("zivra.sound");
    PulseLoop::Lock lock(loop);
    const auto cleanUp = pulse::removeTapModules(loop);
    if (cleanUp.removed > 0) {
        qCInfo(soundLog) << "Removed the tap sink an earlier run left behind";
    }
    if (cleanUp.inUse > 0) {
        qCInfo(soundLog) << "Left alone the tap sink of a Zivra that still runs";
    }
}

PulseSoundServer::~PulseSoundServer() {
    disconnect();
}

void PulseSoundServer::disconnect() {
    if (!loop_) {
        return;
    }
    {
        // Taps may keep the connection alive: nothing of it may call back
        // into this object any more.
        PulseLoop::Lock lock(*loop_);
        loop_->removeSubscriber(subscriber_);
        loop_->setLostHandler(nullptr);
        loop_->setAnsweredHandler(nullptr);
        if (defaultQuery_) {
            pa_operation_cancel(defaultQuery_);
            pa_operation_unref(defaultQuery_);
            defaultQuery_ = nullptr;
        }
        if (settleTimer_) {
            pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_->mainloop());
            api->time_free(settleTimer_);
            settleTimer_ = nullptr;
        }
    }
    loop_.reset();
}

std::shared_ptr<PulseLoop> PulseSoundServer::connection() {
    try {
        return connectOrThrow();
    } catch (const SoundError&) {
        return nullptr;
    }
}

std::shared_ptr<PulseLoop> PulseSoundServer::connectOrThrow() {
    if (loop_ && loop_->isConnected()) {
        return loop_;
    }
    disconnect();
    std::shared_ptr<PulseLoop> loop;
    try {
        // While it is away the watch looks a few times a second; a look
        // never waits, it takes over a connection the server answered since.
        loop = std::make_shared<PulseLoop>("zivra.sound", watch_.isAway()
                                                              ? PulseLoop::Patience::noWait
                                                              : PulseLoop::Patience::answerTime);
    } catch (const SoundError& error) {
        // Said once, not again at every try while the server stays away.
        if (!watch_.isAway()) {
            if (dynamic_cast<const ServerUnanswered*>(&error)) {
                qCWarning(soundLog)
                    << "The sound server has not answered within" << PulseLoop::answerTime.count()
                    << "ms; Zivra connects once it does";
            } else {
                qCWarning(soundLog) << "Cannot connect to the sound server:" << error.what();
            }
        }
        watch_.away();
        throw;
    }
    qCInfo(soundLog) << "Connected to the sound server";
    PulseLoop::Lock lock(*loop);
    loop->subscribeToDeviceEvents();
    knownDefault_ = pulse::defaultSinkName(*loop).value_or("");
    recheckDefault_ = false;
    PulseLoop* events = loop.get();
    subscriber_ = loop->addSubscriber([this, events](pa_subscription_event_type_t type,
                                                     std::uint32_t) { onEvent(*events, type); });
    std::weak_ptr<PulseLoop> lost = loop;
    loop->setLostHandler([this, lost] {
        QMetaObject::invokeMethod(
            &watch_, [this, lost] { onLost(lost); }, Qt::QueuedConnection);
    });
    loop->setAnsweredHandler([this, lost] {
        QMetaObject::invokeMethod(
            &watch_, [this, lost] { onAnswered(lost); }, Qt::QueuedConnection);
    });
    loop_ = loop;
    watch_.answered();
    return loop_;
}

void PulseSoundServer::onLost(const std::weak_ptr<PulseLoop>& lost) {
    // A connection made since has already replaced it.
    if (!loop_ || lost.lock() != loop_) {
        return;
    }
    qCWarning(soundLog) << "The sound server went away:"
                        << loop_->describe(loop_->lastError()).c_str();
    disconnect();
    watch_.away();
}

void PulseSoundServer::onAnswered(const std::weak_ptr<PulseLoop>& answered) {
    if (loop_ && answered.lock() == loop_) {
        watch_.caughtUp();
    }
}

void PulseSoundServer::onEvent(PulseLoop& loop, pa_subscription_event_type_t type) {
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SINK && kind != PA_SUBSCRIPTION_EVENT_CHANGE) {
        notify(DeviceChange::sinkList);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        settleChecks_ = defaultSettleChecks;
        checkDefaultSink(loop.context());
    }
}

void PulseSoundServer::checkDefaultSink(pa_context* context) {
    // Server events come for many changes; only a new default sink counts.
    if (defaultQuery_) {
        recheckDefault_ = true;
        return;
    }
    defaultQuery_ = pa_context_get_server_info(context, &PulseSoundServer::onServerInfo, this);
}

void PulseSoundServer::onServerInfo(pa_context* context, const pa_server_info* info, void* self) {
    auto* server = static_cast<PulseSoundServer*>(self);
    pa_operation_unref(server->defaultQuery_);
    server->defaultQuery_ = nullptr;
    const std::string name = info && info->default_sink_name ? info->default_sink_name : "";
    if (name != server->knownDefault_) {
        server->knownDefault_ = name;
        server->settleChecks_ = 0;
        server->notify(DeviceChange::defaultSink);
    } else if (server->settleChecks_ > 0 && !server->settleTimer_ && !server->recheckDefault_) {
        --server->settleChecks_;
        server->settleTimer_ =
            pa_context_rttime_new(context, pa_rtclock_now() + defaultSettleCheckDelay,
                                  &PulseSoundServer::onSettleTimer, server);
    }
    if (server->recheckDefault_) {
        server->recheckDefault_ = false;
        server->checkDefaultSink(context);
    }
}

void PulseSoundServer::onSettleTimer(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                                     void* self) {
    auto* server = static_cast<PulseSoundServer*>(self);
    api->time_free(event);
    server->settleTimer_ = nullptr;
    server->checkDefaultSink(server->loop_->context());
}

void PulseSoundServer::notify(DeviceChange change) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        return;
    }
    std::weak_ptr<PulseSoundServer> self = weak_from_this();
    QMetaObject::invokeMethod(
        app,
        [self, change] {
            auto server = self.lock();
            if (!server) {
                return;
            }
            // A callback may remove listeners (a restart does), so each one is
            // looked up again right before it is called.
            std::vector<ListenerId> ids;
            for (const auto& [id, listener] : server->listeners_) {
                if (listener.change == change) {
                    ids.push_back(id);
                }
            }
            for (ListenerId id : ids) {
                auto found = server->listeners_.find(id);
                if (found == server->listeners_.end()) {
                    continue;
                }
                auto callback = found->second.callback;
                callback();
            }
        },
        Qt::QueuedConnection);
}

std::optional<std::vector<SinkInfo>> PulseSoundServer::sinks() {
    auto loop = connection();
    if (!loop) {
        return std::nullopt;
    }
    PulseLoop::Lock lock(*loop);
    auto records = pulse::listSinks(*loop);
    if (!records) {
        return std::nullopt;
    }
    std::vector<SinkInfo> result;
    result.reserve(records->size());
    for (auto& record : *records) {
        // Zivra's own tap is where it records from, never a place to play to.
        if (record.info.name != PulseTap::sinkName) {
            result.push_back(std::move(record.info));
        }
    }
    return result;
}

std::optional<SinkInfo> PulseSoundServer::sink(std::uint32_t index) {
    auto loop = connection();
    if (!loop) {
        return std::nullopt;
    }
    PulseLoop::Lock lock(*loop);
    auto record = pulse::sinkByIndex(*loop, index);
    if (!record) {
        return std::nullopt;
    }
    return record->info;
}

std::optional<std::uint32_t> PulseSoundServer::defaultSink() {
    auto loop = connectOrThrow();
    PulseLoop::Lock lock(*loop);
    const auto name = pulse::defaultSinkName(*loop);
    if (!name) {
        return std::nullopt;
    }
    const auto record = pulse::sinkByName(*loop, *name);
    if (!record) {
        return std::nullopt;
    }
    return record->info.index;
}

int PulseSoundServer::setDefaultSink(std::uint32_t index) {
    std::shared_ptr<PulseLoop> loop;
    try {
        loop = connectOrThrow();
    } catch (const SoundError& error) {
        return error.code();
    }
    PulseLoop::Lock lock(*loop);
    const auto record = pulse::sinkByIndex(*loop, index);
    if (!record) {
        return loop->awaitsAnswer() ? PA_ERR_TIMEOUT : PA_ERR_NOENTITY;
    }
    if (const int status = pulse::setDefaultSink(*loop, record->info.name)) {
        return status;
    }
    for (int step = 0; step < defaultSettleSteps; ++step) {
        if (pulse::defaultSinkName(*loop) == record->info.name) {
            break;
        }
        pa_threaded_mainloop_unlock(loop->mainloop());
        std::this_thread::sleep_for(defaultSettleStep);
        pa_threaded_mainloop_lock(loop->mainloop());
    }
    return 0;
}

ListenerId PulseSoundServer::addListener(DeviceChange change, std::function<void()> callback) {
    if (!connection()) {
        return 0;
    }
    const ListenerId id = nextListener_++;
    listeners_.emplace(id, Listener{change, std::move(callback)});
    return id;
}

ListenerId PulseSoundServer::addServerListener(std::function<void(bool answers)> callback) {
    const ListenerId id = nextListener_++;
    watch_.add(id, std::move(callback));
    return id;
}

bool PulseSoundServer::awaitsAnswer() {
    if (watch_.isAway()) {
        return true;
    }
    if (!loop_) {
        return false;
    }
    PulseLoop::Lock lock(*loop_);
    return loop_->awaitsAnswer();
}

void PulseSoundServer::removeListener(ListenerId id) {
    if (!watch_.remove(id)) {
        listeners_.erase(id);
    }
}

std::unique_ptr<Tap> PulseSoundServer::createTap(const TapDescription& description) {
    return std::make_unique<PulseTap>(connectOrThrow(), description);
}

std::unique_ptr<CaptureDevice> PulseSoundServer::createCaptureDevice(const Tap& tap,
                                                                     const std::string& name) {
    auto loop = connectOrThrow();
    std::optional<StreamFormat> format;
    {
        PulseLoop::Lock lock(*loop);
        if (auto record = pulse::sinkByName(*loop, PulseTap::sinkName)) {
            format = record->format;
        }
    }
    if (!format) {
        throw SoundError(PA_ERR_NOENTITY, loop->describe(PA_ERR_NOENTITY));
    }
    return std::make_unique<PulseCaptureDevice>(tap.sourceName(), name, format->sampleRate);
}

std::unique_ptr<OutputGraph> PulseSoundServer::createOutputGraph(const StreamFormat& format) {
    return std::make_unique<PulseOutputGraph>(format);
}

} // namespace zivra::platform::sound
