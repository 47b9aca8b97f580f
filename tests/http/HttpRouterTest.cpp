#include "http/HttpRouter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace vuzozar {

namespace {

// A handler that answers with its own name, so tests can tell which matched.
HttpRequestHandler named(const std::string& name) {
    return [name](const HttpRequestPtr&) { return HttpResponse::raw(200, name); };
}

// The name of the handler found, or "none".
std::string found(HttpRouter& router, const std::optional<std::string>& method,
                  const std::string& path) {
    auto match = router.route(method, path);
    return match ? match->second(nullptr).reasonPhrase() : "none";
}

std::vector<std::string> sorted(std::vector<std::string> paths) {
    std::sort(paths.begin(), paths.end());
    return paths;
}

} // namespace

TEST(HttpRouter, RootPath) {
    HttpRouter router;
    router.register_("GET", "/", named("root"));
    EXPECT_EQ(found(router, "GET", "/"), "root");
    EXPECT_EQ(found(router, "GET", ""), "root");
    HttpRouter empty;
    empty.register_("GET", "", named("empty"));
    EXPECT_EQ(found(empty, "GET", "/"), "empty");
}

TEST(HttpRouter, QueryAndEmptySegmentsAreIgnored) {
    HttpRouter router;
    router.register_("GET", "/a/b?ignored=1", named("ab"));
    EXPECT_EQ(found(router, "GET", "/a/b?x=1"), "ab");
    EXPECT_EQ(found(router, "GET", "/a//b"), "ab");
    EXPECT_EQ(found(router, "GET", "/a/b/"), "ab");
    EXPECT_EQ(found(router, "GET", "/a"), "none");
    EXPECT_EQ(found(router, "GET", "/a/b/c"), "none");
}

TEST(HttpRouter, PiecesAreComparedPercentDecoded) {
    HttpRouter router;
    router.register_("GET", "/a b", named("blank"));
    router.register_("GET", "/c%20d", named("escaped"));
    EXPECT_EQ(found(router, "GET", "/a%20b"), "blank");
    EXPECT_EQ(found(router, "GET", "/c%20d"), "none");
    EXPECT_EQ(found(router, "GET", "/c d"), "none");
    EXPECT_EQ(found(router, "GET", "/a%zz"), "none") << "an invalid escape ends the branch";
}

TEST(HttpRouter, ParameterBeatsExactSiblingOnTheLastPiece) {
    HttpRouter router;
    router.register_("GET", "/a/:x", named("param"));
    router.register_("GET", "/a/b", named("exact"));
    auto match = router.route("GET", "/a/b");
    ASSERT_TRUE(match);
    EXPECT_EQ(match->second(nullptr).reasonPhrase(), "param");
    EXPECT_EQ(match->first, (RouteParams{{":x", "b"}}));
}

TEST(HttpRouter, ParametersAreDecodedAndKeepTheirColon) {
    HttpRouter router;
    router.register_(std::nullopt, "/handoff/:token", named("page"));
    router.register_(std::nullopt, "/handoff/:token/stream", named("stream"));
    auto page = router.route("GET", "/handoff/abc%2F1");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->second(nullptr).reasonPhrase(), "page");
    EXPECT_EQ(page->first.at(":token"), "abc/1");
    auto stream = router.route("GET", "/handoff/t0k/stream");
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->second(nullptr).reasonPhrase(), "stream");
    EXPECT_EQ(stream->first, (RouteParams{{":token", "t0k"}}));
}

TEST(HttpRouter, Wildcards) {
    HttpRouter router;
    router.register_("GET", "/x/**/y", named("many"));
    router.register_("GET", "/z/**", named("trailing"));
    router.register_("GET", "/w/*/v", named("one"));
    EXPECT_EQ(found(router, "GET", "/x/1/2/y"), "many");
    EXPECT_EQ(found(router, "GET", "/x/1/2/3/y"), "many");
    EXPECT_EQ(found(router, "GET", "/x/1/y"), "none");
    EXPECT_EQ(found(router, "GET", "/z/1"), "none");
    EXPECT_EQ(found(router, "GET", "/z/1/2"), "none");
    EXPECT_EQ(found(router, "GET", "/w/anything/v"), "one");
    EXPECT_EQ(found(router, "GET", "/w/v"), "none");
}

TEST(HttpRouter, ReplacingAndClearingHandlers) {
    HttpRouter router;
    router.register_("GET", "/p", named("first"));
    router.register_("GET", "/p", named("second"));
    EXPECT_EQ(found(router, "GET", "/p"), "second");
    EXPECT_EQ(router.routes(), (std::vector<std::string>{"/p"}));
    router.register_("GET", "/p", nullptr);
    EXPECT_EQ(found(router, "GET", "/p"), "none");
    EXPECT_TRUE(router.routes().empty());
    router.register_(std::nullopt, "/p", named("any"));
    EXPECT_EQ(found(router, "GET", "/p"), "any") << "the second pass finds the method-less route";
}

TEST(HttpRouter, MethodRoutesAndMethodlessRoutes) {
    HttpRouter router;
    router.register_("GET", "/only-get", named("get"));
    router.register_(std::nullopt, "/every", named("every"));
    router.register_("POST", "/every", named("post"));
    EXPECT_EQ(found(router, "GET", "/only-get"), "get");
    EXPECT_EQ(found(router, "POST", "/only-get"), "none");
    EXPECT_EQ(found(router, std::nullopt, "/only-get"), "none");
    EXPECT_EQ(found(router, "DELETE", "/every"), "every");
    EXPECT_EQ(found(router, std::nullopt, "/every"), "every");
    EXPECT_EQ(found(router, "POST", "/every"), "post") << "the method's own route wins";
}

TEST(HttpRouter, RoutesListsEveryHandlerOncePerMethod) {
    HttpRouter router;
    router.register_("GET", "/", named("root"));
    router.register_("GET", "/a/:x", named("a"));
    router.register_("POST", "/a/:x", named("a"));
    router.register_(std::nullopt, "/b/c", named("bc"));
    router.register_("GET", "/cleared", nullptr);
    EXPECT_EQ(sorted(router.routes()), (std::vector<std::string>{"", "/a/:x", "/a/:x", "/b/c"}));
    EXPECT_TRUE(HttpRouter().routes().empty());
    EXPECT_TRUE(router.rootNode().nodes.count("*"));
    EXPECT_TRUE(router.rootNode().nodes.at("GET")->nodes.at("a")->nodes.at(":x")->isEndOfRoute);
}

TEST(HttpRouter, ConcurrentLookupsAgree) {
    HttpRouter router;
    router.register_("GET", "/item/:id", named("item"));
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                std::string id = std::to_string(t * 10000 + i);
                auto match = router.route("GET", "/item/" + id);
                if (!match || match->first.at(":id") != id) {
                    ++mismatches;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
}

} // namespace vuzozar
