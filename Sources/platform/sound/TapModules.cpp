#include "platform/sound/TapModules.h"

#include "platform/sound/TapRoutesFile.h"

#include <algorithm>
#include <sstream>
#include <string>

namespace zivra::platform::sound::pulse {
namespace {

// Whether the tap of that module may go: its sink names no owner (an older
// Zivra's, or one whose sink is gone already), or one that has ended, or `also`.
bool mayRemove(std::uint32_t module, const std::vector<SinkRecord>& sinks,
               const std::optional<TapOwner>& also) {
    const auto sink = std::find_if(sinks.begin(), sinks.end(), [&](const SinkRecord& record) {
        return record.ownerModule == module;
    });
    if (sink == sinks.end() || !sink->tapOwner) {
        return true;
    }
    return sink->tapOwner == also || !sink->tapOwner->isRunning();
}

} // namespace

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

void returnStreams(PulseLoop& loop, const StreamRoutes& routes,
                   const std::optional<TapOwner>& also) {
    const auto tap = sinkByName(loop, tapSinkName);
    if (!tap || routes.empty() || !mayRemove(tap->ownerModule, {*tap}, also)) {
        return;
    }
    for (const auto& input : listSinkInputs(loop)) {
        const auto route = routes.find(input.index);
        // A sink that is gone refuses the move; the stream then follows the
        // default sink.
        if (input.sink == tap->info.index && route != routes.end()) {
            moveSinkInput(loop, input.index, route->second);
        }
    }
}

TapCleanUp removeTapModules(PulseLoop& loop, const std::optional<TapOwner>& also) {
    TapCleanUp cleanUp;
    // Without the sinks no owner is known: nothing is removed rather than a tap in use.
    const auto sinks = listSinks(loop);
    if (!sinks) {
        return cleanUp;
    }
    returnStreams(loop, keptRoutes(), also);
    for (const auto& module : listModules(loop)) {
        if (!isTapModule(module)) {
            continue;
        }
        if (!mayRemove(module.index, *sinks, also)) {
            ++cleanUp.inUse;
        } else if (unloadModule(loop, module.index) == 0) {
            ++cleanUp.removed;
        }
    }
    // What a guard kept belongs to the tap in use, if one is.
    if (cleanUp.inUse == 0) {
        forgetRoutes();
    }
    return cleanUp;
}

void removeTapModule(PulseLoop& loop, std::uint32_t index, const std::optional<TapOwner>& also) {
    const auto sinks = listSinks(loop);
    if (!sinks) {
        return;
    }
    for (const auto& module : listModules(loop)) {
        if (module.index == index && isTapModule(module) && mayRemove(index, *sinks, also)) {
            unloadModule(loop, module.index);
        }
    }
}

} // namespace zivra::platform::sound::pulse
