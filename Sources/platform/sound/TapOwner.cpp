#include "platform/sound/TapOwner.h"

#include "platform/sound/PulseProperties.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <charconv>
#include <fstream>
#include <memory>
#include <sstream>

namespace zivra::platform::sound::pulse {
namespace {

constexpr const char* processIdKey = "zivra.owner.process.id";
constexpr const char* startTimeKey = "zivra.owner.process.start";
constexpr const char* serialKey = "zivra.tap.serial";

// The state is the 3rd field of /proc/<id>/stat and the start time the 22nd;
// the second, the program's name in parentheses, may itself hold spaces and
// parentheses.
constexpr int fieldsAfterState = 22 - 3;

constexpr std::string_view sinkPropertiesKey = "sink_properties=";

// The value of the module argument's sink_properties, unquoted as the server
// reads it: in single or double quotes, a backslash escaping the next
// character, or up to the next space; empty when there is none.
std::string sinkPropertiesOf(std::string_view argument) {
    std::size_t at = argument.find(sinkPropertiesKey);
    while (at != std::string_view::npos && at > 0 &&
           !std::isspace(static_cast<unsigned char>(argument[at - 1]))) {
        at = argument.find(sinkPropertiesKey, at + 1);
    }
    if (at == std::string_view::npos) {
        return {};
    }
    const std::string_view value = argument.substr(at + sinkPropertiesKey.size());
    if (value.empty() || (value.front() != '\'' && value.front() != '"')) {
        return std::string(value.substr(0, value.find_first_of(" \t\n")));
    }
    std::string text;
    for (std::size_t n = 1; n < value.size() && value[n] != value.front(); ++n) {
        if (value[n] == '\\' && n + 1 < value.size()) {
            ++n;
        }
        text += value[n];
    }
    return text;
}

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

std::optional<TapOwner> TapOwner::ofModuleArgument(std::string_view argument) {
    const std::unique_ptr<pa_proplist, decltype(&pa_proplist_free)> properties(
        pa_proplist_from_string(sinkPropertiesOf(argument).c_str()), pa_proplist_free);
    return properties ? ofSink(properties.get()) : std::nullopt;
}

bool TapOwner::isRunning() const {
    return ofProcess(processId) == *this;
}

std::string TapOwner::sinkProperties() const {
    return std::string(processIdKey) + '=' + std::to_string(processId) + ' ' + startTimeKey + '=' +
           std::to_string(startTime);
}

TapIdentity TapIdentity::next() {
    static std::atomic<long long> lastSerial{0};
    return TapIdentity{TapOwner::self(), ++lastSerial};
}

std::optional<TapIdentity> TapIdentity::ofSink(const pa_proplist* properties) {
    const auto owner = TapOwner::ofSink(properties);
    const auto serial = numberProperty(properties, serialKey);
    if (!owner || !serial) {
        return std::nullopt;
    }
    return TapIdentity{*owner, *serial};
}

std::optional<TapIdentity> TapIdentity::ofModuleArgument(std::string_view argument) {
    const std::unique_ptr<pa_proplist, decltype(&pa_proplist_free)> properties(
        pa_proplist_from_string(sinkPropertiesOf(argument).c_str()), pa_proplist_free);
    return properties ? ofSink(properties.get()) : std::nullopt;
}

std::string TapIdentity::sinkProperties() const {
    return owner.sinkProperties() + ' ' + serialKey + '=' + std::to_string(serial);
}

} // namespace zivra::platform::sound::pulse
