#include "platform/sound/TapModules.h"

#include "platform/sound/TapLock.h"
#include "platform/sound/TapRoutesFile.h"

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

// Moves the streams on that sink whose route is known back to their sinks.
void moveBack(PulseLoop& loop, std::uint32_t tap, const StreamRoutes& routes) {
    if (routes.empty()) {
        return;
    }
    for (const auto& input : listSinkInputs(loop)) {
        const auto route = routes.find(input.index);
        // A sink that is gone refuses the move; the stream then follows the
        // default sink.
        if (input.sink == tap && route != routes.end()) {
            moveSinkInput(loop, input.index, route->second);
        }
    }
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

void returnStreams(PulseLoop& loop, const StreamRoutes& routes, const std::optional<TapOwner>& also,
                   std::optional<std::uint32_t> module) {
    const auto tap = sinkByName(loop, tapSinkName);
    if (tap && mayRemove(tap->tapOwner, also) && (!module || tap->ownerModule == *module)) {
        moveBack(loop, tap->info.index, routes);
    }
}

TapCleanUp removeTapModules(PulseLoop& loop, const std::optional<TapOwner>& also) {
    const TapLock oneAtATime;
    TapCleanUp cleanUp;
    // Without the sinks no owner is known: nothing is removed rather than a tap in use.
    const auto sinks = listSinks(loop);
    if (!sinks) {
        return cleanUp;
    }
    for (const auto& module : listModules(loop)) {
        if (!isTapModule(module)) {
            continue;
        }
        if (isTapInUse(module, *sinks, also)) {
            ++cleanUp.inUse;
            continue;
        }
        const SinkRecord* sink = sinkOf(module.index, *sinks);
        if (sink && sink->tapOwner) {
            moveBack(loop, sink->info.index, keptRoutes(*sink->tapOwner));
        }
        if (unloadModule(loop, module.index) == 0) {
            ++cleanUp.removed;
        }
    }
    forgetEndedRoutes();
    return cleanUp;
}

void removeTapModule(PulseLoop& loop, std::uint32_t index, const std::optional<TapOwner>& also) {
    const TapLock oneAtATime;
    const auto sinks = listSinks(loop);
    if (!sinks) {
        return;
    }
    for (const auto& module : listModules(loop)) {
        if (module.index == index && isTapModule(module) && !isTapInUse(module, *sinks, also)) {
            unloadModule(loop, module.index);
        }
    }
}

} // namespace zivra::platform::sound::pulse
