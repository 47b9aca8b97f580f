#pragma once

#include "http/HttpServerIO.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vuzozar {

// `server.GET["/path"] = handler;` registers a route; reading one yields no
// handler. Shares the router; any thread (see HttpRouter::register_); throws
// only std::bad_alloc.
class RouteRegistration {
public:
    RouteRegistration(std::shared_ptr<HttpRouter> router, std::optional<std::string> method,
                      std::string path)
        : router_(std::move(router)), method_(std::move(method)), path_(std::move(path)) {}

    RouteRegistration& operator=(HttpRequestHandler handler) {
        router_->register_(method_, path_, std::move(handler));
        return *this;
    }
    operator HttpRequestHandler() const { return nullptr; }

private:
    std::shared_ptr<HttpRouter> router_;
    std::optional<std::string> method_;
    std::string path_;
};

using HttpMiddleware = std::function<std::optional<HttpResponse>(const HttpRequestPtr&)>;

// The server applications use: routes per method or for every method, a
// not-found handler and middleware run before routing. Create it with
// std::make_shared (see HttpServerIO). Routes may be added from any thread
// at any time; set notFoundHandler and middleware before start(), as nothing
// guards them. The server keeps its handlers and calls them, and dispatch(),
// on connection threads, several at once; what they throw is caught there.
class HttpServer : public HttpServerIO {
public:
    class MethodRoute {
    public:
        MethodRoute(std::string method, std::shared_ptr<HttpRouter> router)
            : method(std::move(method)), router(std::move(router)) {}
        RouteRegistration operator[](const std::string& path) const {
            return RouteRegistration(router, method, path);
        }

        std::string method;
        std::shared_ptr<HttpRouter> router;
    };

    HttpServer();

    // The module's version, sent in every response's "Server" header (see
    // version() in http/Version.h).
    static const std::string& VERSION();

    std::shared_ptr<HttpRouter> router;
    MethodRoute DELETE, PATCH, HEAD, POST, GET, PUT;
    // Lower-case twins; `delete` is a keyword of the language.
    MethodRoute delete_, patch, head, post, get, put;

    // A route for every method.
    RouteRegistration operator[](const std::string& path) {
        return RouteRegistration(router, std::nullopt, path);
    }

    std::vector<std::string> routes() const { return router->routes(); }

    // Answers requests that match no route in place of the plain 404.
    HttpRequestHandler notFoundHandler;
    // Run in order before routing; the first response given is the answer.
    std::vector<HttpMiddleware> middleware;

    std::pair<RouteParams, HttpRequestHandler> dispatch(const HttpRequestPtr& request) override;
};

} // namespace vuzozar
