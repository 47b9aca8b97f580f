#pragma once

#include "http/HttpServer.h"

#include <memory>
#include <string>

namespace vuzozar {

// The sample site: a server whose routes show what the module can do (pages
// of the HTML builder, route parameters and wildcards, forms and uploads,
// redirects, raw and streamed bodies, a WebSocket echo), with a not-found
// handler and a middleware that prints one line per request. Prints the
// public directory, whose files "/public/:path" serves; returns the server
// unstarted.
// Any thread; the caller owns the server. Throws only std::bad_alloc.
std::shared_ptr<HttpServer> demoServer(const std::string& publicDirectory);

} // namespace vuzozar
