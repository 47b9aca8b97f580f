// Elements allocate nothing once their thread has room for what they write:
// attribute values keep their storage from one element to the next.
#include "tests/http/html/AllocationCounter.h"

#include "http/html/Attributes.h"
#include "http/html/Elements.h"
#include "http/html/ScopesBuffer.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace vuzozar {

namespace {

// Allocations that `build` makes on this thread.
template <class Build> std::size_t allocationsOf(Build&& build) {
    std::size_t before = allocationsOfThisThread();
    build();
    return allocationsOfThisThread() - before;
}

} // namespace

TEST(HtmlAllocations, ElementsWithoutAttributesAllocateNothing) {
    scopesBuffer().reserve(1024);
    scopesBuffer().clear();
    EXPECT_EQ(allocationsOf([] {
                  div([] {
                      p([] {});
                      br([] {});
                  });
              }),
              0u);
    EXPECT_EQ(scopesBuffer(), "<div><p></p><br></br></div>");
}

TEST(HtmlAllocations, APageBuiltAgainAllocatesNothing) {
    const std::vector<std::string> routes{"/a-route-longer-than-a-short-string", "/b"};
    auto page = [&] {
        scopesBuffer().clear();
        html([&] {
            attr::lang = "en";
            head([] { stylesheet([] { attr::href = "/style-sheet-with-a-long-name.css"; }); });
            body([&] {
                div([&] {
                    attr::idd = "a value that needs the heap to be stored";
                    ul(routes, [](const std::string& route) {
                        li([&] {
                            a([&] {
                                attr::href = route;
                                attr::inner = route;
                            });
                        });
                    });
                    attr::classs = "set after the children, also on the heap";
                });
            });
        });
    };
    page();
    std::string first = scopesBuffer();
    EXPECT_EQ(allocationsOf(page), 0u);
    EXPECT_EQ(scopesBuffer(), first);
}

} // namespace vuzozar
