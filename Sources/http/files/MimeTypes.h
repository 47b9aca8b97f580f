#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vuzozar {

// The type of every extension the table does not hold.
inline constexpr std::string_view defaultMimeType = "application/octet-stream";

// The MIME type for a file name extension given without its dot, matched
// whole and case-insensitively (Unicode lowercasing); the default type for
// an absent extension and for one the table does not hold.
//
// Module-internal. Any thread (the table is built once, on first use, and
// only read afterwards); returns a new string; throws only std::bad_alloc.
std::string matchMimeType(const std::optional<std::string_view>& extens);

// The extension of a path: the text after the last dot of its last
// component, trailing separators ignored. Empty when that component has no
// dot, or only a leading one (".profile" is a name, not an extension).
//
// Any thread; the result views `path`; throws nothing.
std::string_view pathExtension(std::string_view path);

// The MIME type for the extension of a file path.
//
// Any thread; returns a new string; throws only std::bad_alloc.
std::string mimeType(std::string_view path);

// The MIME type for the extension of a URL's path, percent-decoded; the
// scheme, authority, query and fragment play no part.
//
// Any thread; returns a new string; throws only std::bad_alloc.
std::string urlMimeType(std::string_view url);

} // namespace vuzozar
