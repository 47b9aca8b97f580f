#pragma once

#include "http/HttpRouter.h"
#include "http/html/OpenElement.h"

#include <concepts>
#include <functional>
#include <string_view>

// The HTML builder. A page is a closure of nested element calls
// (html/Elements.h); each element's own closure sets that element's
// attributes by assigning the attribute globals (html/Attributes.h), its text
// by assigning `attr::inner`, and builds its children by calling further
// elements. Elements are written into the calling thread's buffer, back to
// back, each with its end tag; nothing is escaped (html/Escape.h is there for
// text that comes from outside).
//
// Threads: the attribute globals and the buffer are the calling thread's
// own, so page builds on several threads run at once, each as if alone.
namespace vuzozar {

// A page: kept by the handler that scopes() makes of it.
using Closure = std::function<void()>;

// Turns a page into a route handler: each call empties the calling thread's
// buffer, runs the page once and answers 200 "OK", "Content-Type:
// text/html", with a body writer that sends "<!DOCTYPE html>" followed by
// that thread's buffer. The writer reads the buffer when the server calls it,
// on the handler's thread; a failed write is dropped. Called inside an
// element's closure, the page takes the place of what that closure has
// written so far.
// Any thread; the handler keeps the page. Throws only what the page throws.
HttpRequestHandler scopes(Closure page);

// Writes the element `node` into the calling thread's buffer. The attribute
// globals are set aside, `content` runs once (its children land in the
// element, the globals it leaves set become the element's attributes,
// `attr::inner` its whole content), then the explicit attributes are put
// over the gathered ones and the globals are put back, also when `content`
// throws (the element is then not written). `content` is called, not kept.
// Any thread; throws only what `content` throws, std::logic_error when
// `content` cut or overwrote the buffer before the element's start tag ends
// (html/ScopesBuffer.h), and std::bad_alloc.
template <std::invocable Content> void element(std::string_view node, Content&& content) {
    OpenElement open(node);
    content();
    open.close(nullptr);
}

template <std::invocable Content>
void element(std::string_view node, const ExplicitAttributes& attributes, Content&& content) {
    OpenElement open(node);
    content();
    open.close(&attributes);
}

} // namespace vuzozar
