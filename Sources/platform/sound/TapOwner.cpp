#include "platform/sound/TapOwner.h"

#include "platform/sound/PulseProperties.h"

#include <unistd.h>

#include <charconv>
#include <fstream>
#include <sstream>

namespace zivra::platform::sound::pulse {
namespace {

constexpr const char* processIdKey = "zivra.owner.process.id";
constexpr const char* startTimeKey = "zivra.owner.process.start";

// The state is the 3rd field of /proc/<id>/stat and the start time the 22nd;
// the second, the program's name in parentheses, may itself hold spaces and
// parentheses.
constexpr int fieldsAfterState = 22 - 3;

} // namespace

TapOwner TapOwner::self() {
    return ofProcess(::getpid()).value_or(TapOwner{::getpid(), 0});
}

std::optional<TapOwner> TapOwner::ofProcess(long processId) {
    std::ifstream file("/proc/" + std::to_string(processId) + "/stat");
    std::string stat;
    if (processId <= 0 || !std::getline(file, stat)) {
        return std::nullopt;
    }
    const auto name = stat.rfind(')');
    if (name == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(stat.substr(name + 1));
    std::string field;
    // A process that was killed but not yet reaped by its parent (a zombie),
    // or is being reaped, has ended: it holds no tap any more.
    if (!(fields >> field) || field == "Z" || field == "X") {
        return std::nullopt;
    }
    for (int n = 0; n < fieldsAfterState && fields >> field; ++n) {
    }
    long long start = 0;
    const auto [last, error] = std::from_chars(field.data(), field.data() + field.size(), start);
    if (!fields || error != std::errc() || last != field.data() + field.size()) {
        return std::nullopt;
    }
    return TapOwner{processId, start};
}

std::optional<TapOwner> TapOwner::ofSink(const pa_proplist* properties) {
    const auto processId = numberProperty(properties, processIdKey);
    const auto startTime = numberProperty(properties, startTimeKey);
    if (!processId || !startTime) {
        return std::nullopt;
    }
    return TapOwner{static_cast<long>(*processId), *startTime};
}

bool TapOwner::isRunning() const {
    return ofProcess(processId) == *this;
}

std::string TapOwner::sinkProperties() const {
    return std::string(processIdKey) + '=' + std::to_string(processId) + ' ' + startTimeKey + '=' +
           std::to_string(startTime);
}

} // namespace zivra::platform::sound::pulse
