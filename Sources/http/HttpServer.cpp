#include "http/HttpServer.h"

#include "http/Version.h"

namespace vuzozar {

HttpServer::HttpServer()
    : router(std::make_shared<HttpRouter>()), DELETE("DELETE", router), PATCH("PATCH", router),
      HEAD("HEAD", router), POST("POST", router), GET("GET", router), PUT("PUT", router),
      delete_("DELETE", router), patch("PATCH", router), head("HEAD", router), post("POST", router),
      get("GET", router), put("PUT", router) {}

const std::string& HttpServer::VERSION() {
    return version();
}

std::pair<RouteParams, HttpRequestHandler> HttpServer::dispatch(const HttpRequestPtr& request) {
    for (const auto& layer : middleware) {
        if (auto response = layer(request)) {
            return {RouteParams(),
                    [response = std::move(*response)](const HttpRequestPtr&) { return response; }};
        }
    }
    if (auto match = router->route(request->method, request->path)) {
        return std::move(*match);
    }
    if (notFoundHandler) {
        return {RouteParams(), notFoundHandler};
    }
    return HttpServerIO::dispatch(request);
}

} // namespace vuzozar
