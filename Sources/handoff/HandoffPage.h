#pragma once

#include <string_view>

namespace zivra::handoff {

// The whole phone client: one HTML document with its style and script, with
// "@@TOKEN@@" wherever the session token goes. Kept in HandoffPage.html and
// compiled in. Static storage, immutable: read it from any thread.
extern const std::string_view handoffPageHTML;

} // namespace zivra::handoff
