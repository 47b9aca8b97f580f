#include "platform/sound/TapModules.h"

#include <sstream>
#include <string>

namespace zivra::platform::sound::pulse {

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

int removeTapModules(PulseLoop& loop) {
    int removed = 0;
    for (const auto& module : listModules(loop)) {
        if (isTapModule(module) && unloadModule(loop, module.index) == 0) {
            ++removed;
        }
    }
    return removed;
}

void removeTapModule(PulseLoop& loop, std::uint32_t index) {
    for (const auto& module : listModules(loop)) {
        if (module.index == index && isTapModule(module)) {
            unloadModule(loop, module.index);
        }
    }
}

} // namespace zivra::platform::sound::pulse
