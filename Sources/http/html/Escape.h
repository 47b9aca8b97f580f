#pragma once

#include <string>
#include <string_view>

namespace vuzozar {

// `text` made safe to stand in HTML text or in a quoted attribute value: "&",
// "<", ">", '"' and "'" become character references; all else, non-ASCII
// UTF-8 included, stays as it is. For whatever a page shows that came from
// outside (a request's path, headers, form fields, file names).
// Any thread; throws only std::bad_alloc.
std::string escapeHtml(std::string_view text);

} // namespace vuzozar
