#include "platform/sound/PulseTap.h"

#include "platform/sound/Logging.h"
#include "platform/sound/PulseProperties.h"
#include "platform/sound/PulseQueries.h"
#include "platform/sound/SoundError.h"
#include "platform/sound/TapLock.h"
#include "platform/sound/TapModules.h"
#include "platform/sound/TapRoutesFile.h"

#include <pulse/error.h>

#include <algorithm>
#include <atomic>
#include <sstream>

namespace zivra::platform::sound {
namespace {

constexpr double fallbackRate = 48000;

// The tap is where Zivra records from, never an output: it takes the lowest
// priority each server knows, so that it is the default sink only while no
// other sink exists. PulseAudio ranks sinks by their class ("modem" counts
// nothing), PipeWire's session manager by priority.session; neither takes
// the other's property into account.
constexpr const char* lowestPriority = "device.class=modem priority.session=-2147483648";

// Whether this process said that another holds the tap lock and has not
// taken it since: the engine tries again twice a second for as long as the
// lock is held, and one line tells of the whole hold.
std::atomic<bool> saidLockHeld = false;

// Module arguments quote values in single quotes; the description is ours,
// but quotes in it must not break the argument list. The owner tells a later
// start that this tap is in use.
std::string sinkProperties(const pulse::TapIdentity& identity, const std::string& name) {
    std::string clean = name;
    std::erase_if(clean, [](char c) { return c == '\'' || c == '"' || c == '\\'; });
    return "'" + identity.sinkProperties() + " device.description=\"" + clean + "\" " +
           lowestPriority + "'";
}

} // namespace

PulseTap::PulseTap(std::shared_ptr<PulseLoop> loop, const TapDescription& description)
    : loop_(std::move(loop)), excludedProcessId_(description.excludedProcessId) {
    // Held until the sink is listed with its owner: a Zivra started at the
    // same moment then finds this tap in use, instead of none or one whose
    // sink it cannot see yet and would remove.
    // Never waited for on the main thread: a holder that is stopped would
    // freeze the popover. The engine tries again a little later.
    const TapLock oneAtATime(TapLock::Wait::never);
    if (!oneAtATime.taken()) {
        if (!saidLockHeld.exchange(true)) {
            qCInfo(soundLog) << "Another Zivra or tap guard is making or removing a tap";
        }
        throw TapLockHeld(PA_ERR_BUSY, "Another Zivra or its tap guard holds the tap lock");
    }
    saidLockHeld = false;
    PulseLoop::Lock lock(*loop_);
    // A run that ended without removing its tap, and whose guard could not
    // either, left the user's streams on it. A tap in use is another Zivra's:
    // a second one beside it would take its streams (or its name). One of
    // this process's own is left from a tap it could not remove while the
    // server did not answer, which its guard may not have removed yet.
    const auto cleanUp = pulse::removeTapModules(*loop_, pulse::TapOwner::self());
    if (!cleanUp.answered) {
        throw ServerUnanswered(PA_ERR_TIMEOUT, loop_->describe(PA_ERR_TIMEOUT));
    }
    if (cleanUp.removed > 0) {
        qCInfo(soundLog) << "Removed the tap sink an earlier run left behind";
    }
    if (cleanUp.inUse > 0) {
        qCWarning(soundLog) << "Another Zivra's tap sink is in use: no second one is made";
        throw SoundError(PA_ERR_EXIST, loop_->describe(PA_ERR_EXIST));
    }

    double rate = fallbackRate;
    if (auto name = pulse::defaultSinkName(*loop_)) {
        defaultSink_ = *name;
        if (auto sink = pulse::sinkByName(*loop_, *name); sink && sink->format.sampleRate > 0) {
            rate = sink->format.sampleRate;
        }
    }
    std::ostringstream arguments;
    arguments << "sink_name=" << sinkName << " rate=" << static_cast<long>(rate)
              << " channels=2 channel_map=front-left,front-right sink_properties="
              << sinkProperties(identity_, description.name);
    if (const int status =
            pulse::loadModule(*loop_, "module-null-sink", arguments.str(), module_)) {
        qCWarning(soundLog) << "The tap sink could not be created:"
                            << loop_->describe(status).c_str();
        // Unanswered, the load may still be carried out once the server goes on.
        if (status == PA_ERR_TIMEOUT) {
            remove();
            throw ServerUnanswered(status, loop_->describe(status));
        }
        throw SoundError(status, loop_->describe(status));
    }
    try {
        guard_.hold(module_);
    } catch (const SoundError&) {
        remove();
        throw;
    }
    const auto sink = pulse::sinkByName(*loop_, sinkName);
    if (!sink) {
        giveUp(PA_ERR_NOENTITY);
    }
    sink_ = sink->info.index;
    qCInfo(soundLog) << "Tap sink" << sinkName << "created at" << rate << "Hz";

    // Subscribed before the existing sinks and streams are listed, so that
    // one appearing in between is not missed (moving twice is harmless).
    subscriber_ = loop_->addSubscriber(
        [this](pa_subscription_event_type_t type, std::uint32_t index) { onEvent(type, index); });
    // Without the sinks' names no stream's route could be kept: every stream
    // moved would go to the default sink when the tap goes.
    const auto sinks = pulse::listSinks(*loop_);
    if (!sinks) {
        giveUp(PA_ERR_UNKNOWN);
    }
    for (const auto& record : *sinks) {
        sinkNames_[record.info.index] = record.info.name;
    }
    captureExisting();
}

void PulseTap::giveUp(int error) {
    // No destructor follows a constructor that throws: nothing may call back
    // into this object any more.
    stopListening();
    remove();
    if (loop_->awaitsAnswer()) {
        throw ServerUnanswered(PA_ERR_TIMEOUT, loop_->describe(PA_ERR_TIMEOUT));
    }
    throw SoundError(error, loop_->describe(error));
}

PulseTap::~PulseTap() {
    PulseLoop::Lock lock(*loop_);
    stopListening();
    remove();
}

void PulseTap::stopListening() {
    loop_->removeSubscriber(subscriber_);
    subscriber_ = 0;
    for (pa_operation* query : queries_) {
        pa_operation_cancel(query);
        pa_operation_unref(query);
    }
    queries_.clear();
    deferred_.clear();
}

void PulseTap::remove() {
    // A connection that is lost went with its server, and the tap with it.
    if (pa_context_get_state(loop_->context()) != PA_CONTEXT_READY) {
        forgetRoutes(identity_);
        qCInfo(soundLog) << "Tap sink removed";
        return;
    }
    // The main thread never waits for the lock: a holder that is stopped
    // would freeze the click. The guard may wait for it.
    const TapLock oneAtATime(TapLock::Wait::never);
    if (!oneAtATime.taken()) {
        // A guard asked to stop is already giving this tap back, and is the
        // holder or waits for it: it is let finish, as a guard handed the tap
        // would, its end awaited off the main thread.
        const bool givingBack = guard_.givesBack();
        guard_.handOver();
        if (givingBack) {
            qCInfo(soundLog) << "The tap guard, asked to stop, gives the streams back and removes "
                                "the tap sink";
        } else {
            qCInfo(soundLog) << "Another Zivra or tap guard holds the tap lock; the tap guard "
                                "gives the streams back and removes the tap sink once it is free";
        }
        return;
    }
    if (!pulse::returnStreams(*loop_, routes_, identity_) || !pulse::removeTap(*loop_, identity_)) {
        guard_.handOver();
        qCWarning(soundLog) << "The sound server does not answer; the tap guard gives the streams "
                               "back and removes the tap sink once it does";
        return;
    }
    forgetRoutes(identity_);
    qCInfo(soundLog) << "Tap sink removed";
}

void PulseTap::captureExisting() {
    for (const auto& input :
         pulse::listSinkInputs(*loop_).value_or(std::vector<pulse::SinkInputRecord>{})) {
        capture(input);
    }
}

void PulseTap::onEvent(pa_subscription_event_type_t type, std::uint32_t index) {
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    pa_context* context = loop_->context();
    if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT &&
        (kind == PA_SUBSCRIPTION_EVENT_NEW ||
         (kind == PA_SUBSCRIPTION_EVENT_CHANGE && deferred_.contains(index)))) {
        lookUpStream(index);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT &&
               kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        deferred_.erase(index);
        if (routes_.erase(index) > 0) {
            keepRoutes(identity_, routes_);
            guard_.forget(index);
        }
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK && kind == PA_SUBSCRIPTION_EVENT_NEW) {
        query(pa_context_get_sink_info_by_index(context, index, &PulseTap::onSinkInfo, this));
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK && kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        sinkNames_.erase(index);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        query(pa_context_get_server_info(context, &PulseTap::onServerInfo, this));
    }
}

void PulseTap::query(pa_operation* operation) {
    forgetFinishedQueries();
    if (operation) {
        queries_.push_back(operation);
    }
}

void PulseTap::lookUpStream(std::uint32_t index) {
    query(
        pa_context_get_sink_input_info(loop_->context(), index, &PulseTap::onSinkInputInfo, this));
}

void PulseTap::onSinkInputInfo(pa_context*, const pa_sink_input_info* input, int, void* self) {
    if (input) {
        static_cast<PulseTap*>(self)->capture(pulse::toRecord(*input));
    }
}

void PulseTap::onSinkInfo(pa_context*, const pa_sink_info* sink, int, void* self) {
    if (sink && sink->name) {
        auto* tap = static_cast<PulseTap*>(self);
        tap->sinkNames_[sink->index] = sink->name;
        // A stream may be listed on a new sink before the sink's own event is answered.
        for (const std::uint32_t stream : tap->deferred_) {
            tap->lookUpStream(stream);
        }
    }
}

void PulseTap::onServerInfo(pa_context*, const pa_server_info* info, void* self) {
    if (info && info->default_sink_name) {
        static_cast<PulseTap*>(self)->defaultSink_ = info->default_sink_name;
    }
}

void PulseTap::capture(const pulse::SinkInputRecord& input) {
    // Looked at again only while it waits for its sink's name.
    deferred_.erase(input.index);
    // A virtual device's stream stays on the sink it feeds (a remap sink's on
    // its master): on the tap, the device would no longer reach that sink,
    // and Zivra playing on the device would play into its own tap.
    if (input.sink == sink_ || input.ofTheServer ||
        (input.processId && input.processId == excludedProcessId_)) {
        return;
    }
    // A stream PipeWire has not placed yet goes where it asked to; one that
    // asked for nothing follows the default sink, and so it will on release.
    // One on a sink whose name is not known could not be given back: it is
    // left where it plays until its placing or its sink's name is heard of.
    std::string from;
    if (const auto name = sinkNames_.find(input.sink); name != sinkNames_.end()) {
        from = name->second;
    } else if (std::ranges::any_of(sinkNames_,
                                   [&](const auto& sink) { return sink.second == input.target; })) {
        from = input.target;
    } else if (input.sink != PA_INVALID_INDEX || !input.target.empty()) {
        deferred_.insert(input.index);
        return;
    }
    // Kept before the move, by this process: should it and its guard both
    // end before the guard has read the route, the next start still has it.
    if (!from.empty() && from != defaultSink_) {
        routes_[input.index] = from;
        keepRoutes(identity_, routes_);
        guard_.route(input.index, from);
    }
    // Streams that refuse to move (our own output among them) stay where they are.
    if (pa_operation* move = pa_context_move_sink_input_by_index(loop_->context(), input.index,
                                                                 sink_, nullptr, nullptr)) {
        pa_operation_unref(move);
    }
}

void PulseTap::forgetFinishedQueries() {
    std::erase_if(queries_, [](pa_operation* query) {
        if (pa_operation_get_state(query) == PA_OPERATION_RUNNING) {
            return false;
        }
        pa_operation_unref(query);
        return true;
    });
}

std::optional<StreamFormat> PulseTap::format() {
    PulseLoop::Lock lock(*loop_);
    const auto sink = pulse::sinkByIndex(*loop_, sink_);
    if (!sink || sink->format.sampleRate <= 0 || sink->format.channels == 0) {
        return std::nullopt;
    }
    return sink->format;
}

std::string PulseTap::sourceName() const {
    return std::string(sinkName) + ".monitor";
}

} // namespace zivra::platform::sound
