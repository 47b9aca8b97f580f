#pragma once

#include "http/HttpRouter.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The HTML builder. A page is a closure of nested element calls
// (html/Elements.h); each element's own closure sets that element's
// attributes by assigning the attribute globals (html/Attributes.h), its text
// by assigning `attr::inner`, and builds its children by calling further
// elements. Elements are written into the calling thread's buffer, back to
// back, each with its end tag; nothing is escaped (html/Escape.h is there for
// text that comes from outside).
//
// Threads: page builds and element calls of all threads take turns under one
// process-wide lock, so each page comes out as if it were built alone. The
// attribute globals are process-wide: assign them only inside a page or an
// element's closure.
namespace vuzozar {

// A page, or the content of one element.
using Closure = std::function<void()>;

// Attributes given to an element directly, by name; an entry without a value
// keeps that attribute off the element.
using ExplicitAttributes = std::map<std::string, std::optional<std::string>>;

// The attributes of one element as they are written, in order.
using MergedAttributes = std::vector<std::pair<std::string, std::optional<std::string>>>;

// Turns a page into a route handler: each call empties the calling thread's
// buffer, runs the page once and answers 200 "OK", "Content-Type:
// text/html", with a body writer that sends "<!DOCTYPE html>" followed by
// that thread's buffer. The writer reads the buffer when the server calls it,
// on the handler's thread; a failed write is dropped.
// Any thread; the handler keeps the page. Throws only what the page throws.
HttpRequestHandler scopes(Closure page);

// Writes the element `node` into the calling thread's buffer. The attribute
// globals are saved and cleared, `content` runs once (its children land in
// the element, the globals it leaves set become the element's attributes,
// `attr::inner` its whole content), then the explicit attributes are put
// over the gathered ones and the globals are restored, also when `content`
// throws. Any thread; throws only what `content` throws.
void element(std::string_view node, const Closure& content);
void element(std::string_view node, const ExplicitAttributes& attributes, const Closure& content);

// The text of the attributes in a start tag: a blank, the name, "=" and the
// value in double quotes for each entry that has a value, unescaped.
// Any thread; throws only std::bad_alloc.
std::string attributeString(const MergedAttributes& attributes);

} // namespace vuzozar
