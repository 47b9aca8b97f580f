#include "platform/sound/TapModules.h"

#include "platform/sound/TapRoutesFile.h"

#include <pulse/error.h>

#include <algorithm>
#include <sstream>
#include <string>

namespace zivra::platform::sound::pulse {
namespace {

// The sink of that module; null when it is not listed.
const SinkRecord* sinkOf(std::uint32_t module, const std::vector<SinkRecord>& sinks) {
    const auto sink = std::find_if(sinks.begin(), sinks.end(), [&](const SinkRecord& record) {
        return record.ownerModule == module;
    });
    return sink == sinks.end() ? nullptr : &*sink;
}

// Whether a tap whose owner is that may go: it names none (an older
// Zivra's), or one that has ended, or `also`.
bool mayRemove(const std::optional<TapOwner>& owner, const std::optional<TapOwner>& also) {
    return !owner || owner == also || !owner->isRunning();
}

// Moves the streams on that sink whose route is known back to their sinks;
// false when a request went unanswered.
bool moveBack(PulseLoop& loop, std::uint32_t tap, const StreamRoutes& routes) {
    if (routes.empty()) {
        return true;
    }
    const auto inputs = listSinkInputs(loop);
    if (!inputs) {
        return false;
    }
    bool answered = true;
    for (const auto& input : *inputs) {
        const auto route = routes.find(input.index);
        // A sink that is gone refuses the move; the stream then follows the
        // default sink.
        if (input.sink == tap && route != routes.end()) {
            answered =
                moveSinkInput(loop, input.index, route->second) != PA_ERR_TIMEOUT && answered;
        }
    }
    return answered;
}

} // namespace

bool isTapInUse(const ModuleRecord& module, const std::vector<SinkRecord>& sinks,
                const std::optional<TapOwner>& also) {
    const SinkRecord* sink = sinkOf(module.index, sinks);
    return !mayRemove(sink ? sink->tapOwner : TapOwner::ofModuleArgument(module.argument), also);
}

bool isTapModule(const ModuleRecord& module) {
    if (module.name != "module-null-sink") {
        return false;
    }
    std::istringstream words(module.argument);
    std::string word;
    const std::string wanted = std::string("sink_name=") + tapSinkName;
    while (words >> word) {
        if (word == wanted) {
            return true;
        }
    }
    return false;
}

bool returnStreams(PulseLoop& loop, const StreamRoutes& routes, const TapIdentity& tap) {
    const auto sinks = listSinks(loop);
    if (!sinks) {
        return false;
    }
    const auto sink = std::find_if(sinks->begin(), sinks->end(), [&](const SinkRecord& record) {
        return record.info.name == tapSinkName && record.tapIdentity == tap;
    });
    return sink == sinks->end() || moveBack(loop, sink->info.index, routes);
}

bool removeTap(PulseLoop& loop, const TapIdentity& tap) {
    const auto modules = listModules(loop);
    if (!modules) {
        return false;
    }
    bool answered = true;
    for (const auto& module : *modules) {
        if (isTapModule(module) && TapIdentity::ofModuleArgument(module.argument) == tap) {
            answered = unloadModule(loop, module.index) != PA_ERR_TIMEOUT && answered;
        }
    }
    return answered;
}

TapCleanUp removeTapModules(PulseLoop& loop, const std::optional<TapOwner>& also) {
    TapCleanUp cleanUp;
    // Without the sinks no owner is known: nothing is removed rather than a tap in use.
    const auto sinks = listSinks(loop);
    const auto modules = sinks ? listModules(loop) : std::nullopt;
    if (!modules) {
        cleanUp.answered = false;
        return cleanUp;
    }
    for (const auto& module : *modules) {
        if (!isTapModule(module)) {
            continue;
        }
        if (isTapInUse(module, *sinks, also)) {
            ++cleanUp.inUse;
            continue;
        }
        const SinkRecord* sink = sinkOf(module.index, *sinks);
        if (sink && sink->tapIdentity &&
            !moveBack(loop, sink->info.index, keptRoutes(*sink->tapIdentity))) {
            // Unloaded now, the streams not moved would follow the default.
            cleanUp.answered = false;
            continue;
        }
        const int status = unloadModule(loop, module.index);
        // Also those of a tap of this process, whose owner still runs.
        if (status == 0 && sink && sink->tapIdentity) {
            forgetRoutes(*sink->tapIdentity);
        }
        cleanUp.removed += status == 0 ? 1 : 0;
        cleanUp.answered = status != PA_ERR_TIMEOUT && cleanUp.answered;
    }
    // Kept for the next try while a tap they belong to may still be there.
    if (cleanUp.answered) {
        forgetEndedRoutes();
    }
    return cleanUp;
}

} // namespace zivra::platform::sound::pulse
