#pragma once

#include <string_view>

namespace zivra::handoff {

// The whole phone client: one HTML document with its style and script inline,
// with "@@TOKEN@@" wherever the session token goes. Kept in HandoffPage.html,
// .css and .js and joined when compiled in. Static storage, immutable: read it
// from any thread.
extern const std::string_view handoffPageHTML;

} // namespace zivra::handoff
