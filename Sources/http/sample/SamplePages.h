#pragma once

#include "http/HttpServer.h"
#include "http/html/Scopes.h"

#include <memory>

// The sample site's pages, built with the HTML builder. Each is built on the
// thread that serves its request; none throws but std::bad_alloc.
namespace vuzozar {

// "/": every route of `server` as a link, read afresh at each request. The
// page does not keep the server alive (the server holds the page); once the
// server is gone it lists nothing.
Closure routeListPage(std::weak_ptr<HttpServer> server);

// "/test/:param1/:param2": the client's address, the path, the method, and
// tables of the query, the headers and the route parameters, all escaped.
HttpResponse requestInformationPage(const HttpRequestPtr& request);

// GET "/upload": a form that posts three files to "/upload".
void uploadFormPage();

// GET "/login": a sign-in form that posts "email" and "password" to "/login".
void loginPage();

// "/demo": a heading and an image.
void demoPage();

} // namespace vuzozar
