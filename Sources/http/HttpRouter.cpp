#include "http/HttpRouter.h"

#include "http/Strings.h"

#include <mutex>

namespace vuzozar {

HttpRouter::HttpRouter() : rootNode_(std::make_shared<Node>()) {}

std::string HttpRouter::stripQuery(const std::string& path) {
    return path.substr(0, path.find('?'));
}

void HttpRouter::register_(const std::optional<std::string>& method, const std::string& path,
                           HttpRequestHandler handler) {
    std::unique_lock lock(queue_);
    Node* node = rootNode_.get();
    std::vector<std::string> pieces = split(stripQuery(path), '/');
    pieces.insert(pieces.begin(), method.value_or("*"));
    for (const auto& piece : pieces) {
        auto& child = node->nodes[piece];
        if (!child) {
            child = std::make_shared<Node>();
        }
        node = child.get();
    }
    node->isEndOfRoute = true;
    node->handler = std::move(handler);
}

std::optional<std::pair<RouteParams, HttpRequestHandler>>
HttpRouter::route(const std::optional<std::string>& method, const std::string& path) {
    std::shared_lock lock(queue_);
    std::string stripped = stripQuery(path);
    if (method) {
        RouteParams params;
        if (auto handler = findHandler(*rootNode_, params, split(*method + "/" + stripped, '/'))) {
            return std::make_pair(std::move(params), std::move(handler));
        }
    }
    RouteParams params;
    if (auto handler = findHandler(*rootNode_, params, split("*/" + stripped, '/'))) {
        return std::make_pair(std::move(params), std::move(handler));
    }
    return std::nullopt;
}

HttpRequestHandler HttpRouter::findHandler(Node& node, RouteParams& params,
                                           const std::vector<std::string>& pattern) {
    std::vector<Node*> matchedNodes;
    findHandler(node, params, pattern, matchedNodes, 0, pattern.size());
    return matchedNodes.empty() ? nullptr : matchedNodes.front()->handler;
}

void HttpRouter::findHandler(Node& node, RouteParams& params,
                             const std::vector<std::string>& pattern,
                             std::vector<Node*>& matchedNodes, size_t index, size_t count) {
    if (index == count) {
        if (node.isEndOfRoute) {
            matchedNodes.push_back(&node);
        }
        return;
    }
    if (index > count) {
        return;
    }
    auto token = percentDecode(pattern[index]);
    if (!token) {
        return;
    }
    // Only the first parameter child is tried; one that ends the route on
    // the last segment wins over every sibling.
    for (auto& [key, child] : node.nodes) {
        if (key.empty() || key[0] != ':') {
            continue;
        }
        params[key] = *token;
        if (index + 1 == count && child->isEndOfRoute) {
            matchedNodes.push_back(child.get());
            return;
        }
        findHandler(*child, params, pattern, matchedNodes, index + 1, count);
        break;
    }
    if (auto exact = node.nodes.find(*token); exact != node.nodes.end()) {
        findHandler(*exact->second, params, pattern, matchedNodes, index + 1, count);
    }
    if (auto any = node.nodes.find("*"); any != node.nodes.end()) {
        findHandler(*any->second, params, pattern, matchedNodes, index + 1, count);
    }
    if (auto many = node.nodes.find("**"); many != node.nodes.end()) {
        // "**" covers at least the current segment and the next one; the
        // route goes on at a later segment that is a literal child of it.
        Node& rest = *many->second;
        for (size_t scan = index + 2; scan < count;) {
            auto piece = percentDecode(pattern[scan]);
            if (!piece) {
                break;
            }
            ++scan;
            if (auto next = rest.nodes.find(*piece); next != rest.nodes.end()) {
                findHandler(*next->second, params, pattern, matchedNodes, scan, count);
            }
        }
    }
}

std::vector<std::string> HttpRouter::routes() const {
    std::shared_lock lock(queue_);
    std::vector<std::string> paths;
    for (const auto& [method, node] : rootNode_->nodes) {
        auto listed = routesForNode(*node, "");
        paths.insert(paths.end(), listed.begin(), listed.end());
    }
    return paths;
}

std::vector<std::string> HttpRouter::routesForNode(const Node& node,
                                                   const std::string& prefix) const {
    std::vector<std::string> paths;
    if (node.handler) {
        paths.push_back(prefix);
    }
    for (const auto& [key, child] : node.nodes) {
        auto listed = routesForNode(*child, prefix + "/" + key);
        paths.insert(paths.end(), listed.begin(), listed.end());
    }
    return paths;
}

} // namespace vuzozar
