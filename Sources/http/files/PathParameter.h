#pragma once

#include "http/HttpRequest.h"

#include <optional>
#include <string>

namespace vuzozar {

// The value of the request's path parameter (the first in the map's order;
// the routes of the file handlers have one), percent-decoded by the
// router; nothing when the request has none.
//
// Any thread; returns a copy; throws only std::bad_alloc.
std::optional<std::string> pathParameter(const HttpRequest& request);

} // namespace vuzozar
