#pragma once

#include "http/HttpServer.h"

#include <optional>

// The sample site's handlers that answer without the HTML builder. Each runs
// on the thread that serves its request and keeps nothing between requests;
// none throws but std::bad_alloc. Text that came with the request is escaped
// before it goes into an HTML answer.
namespace vuzozar {

// "/magic": "You asked for " and the path.
HttpResponse magicHandler(const HttpRequestPtr& request);

// POST "/upload": one line per uploaded file: its field name, file name and
// size. Parts without a file name are left out.
HttpResponse uploadHandler(const HttpRequestPtr& request);

// POST "/login": the URL-encoded fields as "name = value", one per line.
HttpResponse loginHandler(const HttpRequestPtr& request);

// "/raw": "test" with the header "XXX-Custom-Header: value", no length.
HttpResponse rawHandler(const HttpRequestPtr& request);

// "/redirect/permanently" and "/redirect/temporarily": 301 and 307 to an
// outside home page.
HttpResponse permanentRedirectHandler(const HttpRequestPtr& request);
HttpResponse temporaryRedirectHandler(const HttpRequestPtr& request);

// "/long": "(0),->(1),->" and so on up to "(999),->".
HttpResponse longHandler(const HttpRequestPtr& request);

// "/wildcard/*/test/*/:param": the path.
HttpResponse wildcardHandler(const HttpRequestPtr& request);

// "/stream": "[chunk 0]" to "[chunk 100]", one write each; a failed write
// ends the body and is thrown on to the server.
HttpResponse streamHandler(const HttpRequestPtr& request);

// "/websocket-echo": sends every text and binary message back as one final
// frame of the same kind.
HttpRequestHandler websocketEchoHandler();

// Every request that no route takes: 301 to an outside not-found page.
HttpResponse notFoundRedirectHandler(const HttpRequestPtr& request);

// Prints "Middleware: <address> -> <method> -> <path>" for every request and
// lets routing go on.
std::optional<HttpResponse> loggingMiddleware(const HttpRequestPtr& request);

} // namespace vuzozar
