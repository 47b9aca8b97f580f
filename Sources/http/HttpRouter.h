#pragma once

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

namespace vuzozar {

// An empty function is "no handler".
using HttpRequestHandler = std::function<HttpResponse(const HttpRequestPtr&)>;
using RouteParams = std::map<std::string, std::string>;

// Maps a method and a path to a handler through a tree with one level per
// path segment, the method being the first level ("*" for routes of every
// method). Segments are literals, parameters (":name"), "*" (any one
// segment) or "**" (two or more segments before a literal). Owned by the
// server through a shared_ptr; handlers are kept, and handed out as copies.
// Nothing here throws but std::bad_alloc.
class HttpRouter {
public:
    class Node {
    public:
        std::map<std::string, std::shared_ptr<Node>> nodes;
        bool isEndOfRoute = false;
        HttpRequestHandler handler;
    };

    HttpRouter();

    // The tree itself, unguarded: only while no other thread registers or
    // routes (tests, start-up).
    Node& rootNode() { return *rootNode_; }

    // Adds or replaces the handler of a route; an empty handler removes it
    // from routes() but leaves its node. Any thread; it waits for lookups
    // under way, so a route may also be added while the server runs.
    void register_(const std::optional<std::string>& method, const std::string& path,
                   HttpRequestHandler handler);

    // The route parameters and handler for a request, or nothing. A route of
    // the method wins over one registered for every method. Any thread.
    std::optional<std::pair<RouteParams, HttpRequestHandler>>
    route(const std::optional<std::string>& method, const std::string& path);

    // The path of every route that has a handler, without its method. Any
    // thread.
    std::vector<std::string> routes() const;

private:
    std::vector<std::string> routesForNode(const Node& node, const std::string& prefix) const;
    HttpRequestHandler findHandler(Node& node, RouteParams& params,
                                   const std::vector<std::string>& pattern);
    void findHandler(Node& node, RouteParams& params, const std::vector<std::string>& pattern,
                     std::vector<Node*>& matchedNodes, size_t index, size_t count);
    static std::string stripQuery(const std::string& path);

    std::shared_ptr<Node> rootNode_;
    // Lookups of all connection threads run side by side; a registration
    // runs alone.
    mutable std::shared_mutex queue_;
};

} // namespace vuzozar
