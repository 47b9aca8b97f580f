#include "platform/sound/PulseProperties.h"

#include <charconv>
#include <cstring>

namespace zivra::platform::sound::pulse {

std::optional<long long> wholeNumber(const char* text) {
    long long number = 0;
    const char* end = text + std::strlen(text);
    const auto [last, error] = std::from_chars(text, end, number);
    if (error != std::errc() || last != end) {
        return std::nullopt;
    }
    return number;
}

std::optional<long long> numberProperty(const pa_proplist* properties, const char* key) {
    const char* text = pa_proplist_gets(properties, key);
    return text ? wholeNumber(text) : std::nullopt;
}

std::optional<long> processIdOf(const pa_proplist* properties) {
    return numberProperty(properties, PA_PROP_APPLICATION_PROCESS_ID);
}

} // namespace zivra::platform::sound::pulse
