#pragma once

#include <pulse/proplist.h>

#include <optional>

namespace zivra::platform::sound::pulse {

// The whole number a text is, all of it (empty when it is none). Any thread;
// borrows the text; throws nothing.
std::optional<long long> wholeNumber(const char* text);

// Reads a whole number from a proplist (empty when absent or not a number).
// Any thread; borrows the proplist; throws nothing.
std::optional<long long> numberProperty(const pa_proplist* properties, const char* key);

// Reads the process id of a sink input's proplist (empty when absent or not a
// number). Any thread; borrows the proplist; throws nothing.
std::optional<long> processIdOf(const pa_proplist* properties);

} // namespace zivra::platform::sound::pulse
