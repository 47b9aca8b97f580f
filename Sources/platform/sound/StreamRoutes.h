#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace zivra::platform::sound::pulse {

// Where each stream the tap took played before: sink-input index -> the
// sink's name (a name, because a device that comes back gets a new index).
// A plain map: not thread-safe, throws nothing but std::bad_alloc.
using StreamRoutes = std::map<std::uint32_t, std::string>;

} // namespace zivra::platform::sound::pulse
