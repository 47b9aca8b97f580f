// Each thread builds with attribute values and a buffer of its own, written
// in place, so page builds on several threads run at the same time.
#include "tests/http/RecordingWriter.h"

#include "http/html/Attributes.h"
#include "http/html/Elements.h"
#include "http/html/ScopesBuffer.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace vuzozar {

namespace {

// Where two threads wait for each other. A builder that lets one thread in
// at a time makes the first one wait in vain, so it gives up after a while
// and says so, rather than hanging the test.
class Meeting {
public:
    bool arriveAndWait() {
        std::unique_lock lock(mutex_);
        ++arrived_;
        bothHere_.notify_all();
        return bothHere_.wait_for(lock, std::chrono::seconds(10), [&] { return arrived_ == 2; });
    }

private:
    std::mutex mutex_;
    std::condition_variable bothHere_;
    int arrived_ = 0;
};

} // namespace

TEST(HtmlThreadState, AValueSetOutsideEveryElementStaysOnItsThread) {
    attr::title = "main";
    bool seenElsewhere = true;
    std::thread([&] {
        seenElsewhere = attr::title.has_value();
        attr::title = "other";
    }).join();
    EXPECT_FALSE(seenElsewhere);
    EXPECT_EQ(attr::title, "main");
    attr::title.reset();
}

TEST(HtmlThreadState, TwoThreadsInsideElementsAtOnceKeepTheirOwnAttributes) {
    Meeting insideBoth;
    std::array<bool, 2> met{};
    std::array<std::string, 2> pages;
    auto build = [&](int n) {
        std::string id = std::to_string(n);
        scopesBuffer().clear();
        div([&] {
            attr::idd = id;
            p([&] {
                attr::classs = id;
                met[n] = insideBoth.arriveAndWait();
                attr::inner = id;
            });
            attr::title = id;
        });
        pages[n] = scopesBuffer();
    };
    std::thread other(build, 1);
    build(0);
    other.join();
    EXPECT_TRUE(met[0] && met[1]);
    for (int n : {0, 1}) {
        std::string id = std::to_string(n);
        EXPECT_EQ(pages[n], "<div id=\"" + id + "\" title=\"" + id + "\"><p class=\"" + id + "\">" +
                                id + "</p></div>");
    }
}

TEST(HtmlThreadState, TheBufferHoldsOpenStartTagsAndAPageInsideAClosureReplacesTheChildren) {
    auto page = scopes([] { h1([] { attr::inner = "page"; }); });
    std::string seenInside;
    std::string body;
    scopesBuffer() = "before";
    div([&] {
        attr::idd = "d";
        p([] {});
        seenInside = scopesBuffer();
        body = writtenBy(page(nullptr).content());
    });
    EXPECT_EQ(seenInside, "before<div><p></p>");
    EXPECT_EQ(body, "<!DOCTYPE html><h1>page</h1>");
    EXPECT_EQ(scopesBuffer(), "before<div id=\"d\"><h1>page</h1></div>");
}

// Written in place, the enclosing start tags would take their attributes at
// offsets that the rewrite made stale.
TEST(HtmlThreadState, RewritingTheBufferBeforeAnOpenStartTagIsAnError) {
    const std::array<Closure, 2> rewrites{[] { scopesBuffer() = "replaced"; },
                                          [] {
                                              scopesBuffer().clear();
                                              i([] {});
                                          }};
    for (const Closure& rewrite : rewrites) {
        scopesBuffer().clear();
        std::string error;
        try {
            div([&] {
                attr::idd = "x";
                p(rewrite);
            });
        } catch (const std::logic_error& thrown) {
            error = thrown.what();
        }
        EXPECT_NE(error.find("buffer was cut or overwritten inside <p>"), std::string::npos)
            << "built: " << scopesBuffer();
    }
}

TEST(HtmlThreadState, AnElementWhoseClosureThrowsLeavesTheBufferAsItWas) {
    scopesBuffer() = "kept";
    EXPECT_THROW(div([] {
                     p([] {});
                     throw std::runtime_error("page failed");
                 }),
                 std::runtime_error);
    EXPECT_EQ(scopesBuffer(), "kept");
}

} // namespace vuzozar
