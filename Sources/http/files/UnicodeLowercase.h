#pragma once

#include <string>
#include <string_view>

namespace vuzozar {

// `text` with every cased scalar mapped to its Unicode lowercase form (the
// simple one-to-one mapping), the same on every machine whatever the
// process's locale: "PHOTO.JPG" gives "photo.jpg", the Kelvin sign K gives
// "k". Bytes that are no well-formed UTF-8 are kept as they are. Comparing
// two results byte by byte orders them by their scalar values.
//
// Any thread; returns a new string; throws only std::bad_alloc.
std::string unicodeLowercased(std::string_view text);

} // namespace vuzozar
