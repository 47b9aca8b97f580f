// Speed of the HTML builder, each against a reference measured in the same
// run:
//   page     a 17-link route list built with the builder vs the same text
//            appended to a string by hand; ratio: builder time / hand time
//   threads  that page built by 8 threads at once vs by one thread, the same
//            number of pages in all; ratio: how many times the pages per
//            second of one thread the 8 threads build (8 at most, less when
//            the machine has fewer free cores)
//   allocs   heap allocations once the thread has built the page before:
//            per element for the builder, per page by hand
// Prints the best of several rounds and the ratios.
#include "tests/http/html/AllocationCounter.h"

#include "http/html/Attributes.h"
#include "http/html/Elements.h"
#include "http/html/ScopesBuffer.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vuzozar {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int rounds = 30;
constexpr int pagesPerRound = 2000;
constexpr int threadCount = 8;

const std::vector<std::string> routes = {"",
                                         "/public/:path",
                                         "/files/:path",
                                         "/magic",
                                         "/test/:param1/:param2",
                                         "/upload",
                                         "/upload",
                                         "/login",
                                         "/login",
                                         "/demo",
                                         "/raw",
                                         "/redirect/permanently",
                                         "/redirect/temporarily",
                                         "/long",
                                         "/wildcard/*/test/*/:param",
                                         "/stream",
                                         "/websocket-echo"};

void builderPage() {
    scopesBuffer().clear();
    html([] {
        body([] {
            ul(routes, [](const std::string& route) {
                li([&] {
                    a([&] {
                        attr::href = route;
                        attr::inner = route;
                    });
                });
            });
        });
    });
}

void handWrittenPage(std::string& text) {
    text.clear();
    text += "<html><body><ul>";
    for (const std::string& route : routes) {
        text += "<li><a href=\"" + route + "\">" + route + "</a></li>";
    }
    text += "</ul></body></html>";
}

// Best time of `rounds` runs of `work`, in nanoseconds.
double best(const std::function<void()>& work) {
    double fastest = 1e300;
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        work();
        fastest = std::min(fastest,
                           std::chrono::duration<double, std::nano>(Clock::now() - start).count());
    }
    return fastest;
}

void buildPages(int count) {
    for (int page = 0; page < count; ++page) {
        builderPage();
    }
}

// Allocations per call of `work` on this thread, which has run it before.
double allocationsPerCall(const std::function<void()>& work) {
    work();
    std::size_t before = allocationsOfThisThread();
    for (int call = 0; call < pagesPerRound; ++call) {
        work();
    }
    return static_cast<double>(allocationsOfThisThread() - before) / pagesPerRound;
}

// Every element has its end tag.
std::size_t elementsIn(const std::string& page) {
    std::size_t count = 0;
    for (std::size_t at = page.find("</"); at != std::string::npos; at = page.find("</", at + 2)) {
        ++count;
    }
    return count;
}

} // namespace

} // namespace vuzozar

int main() {
    using namespace vuzozar;
    std::string text;
    handWrittenPage(text);
    builderPage();
    if (scopesBuffer() != text) {
        std::fprintf(stderr, "the two pages differ\n");
        return 1;
    }
    double builder = best([] { buildPages(pagesPerRound); });
    double byHand = best([&] {
        for (int page = 0; page < pagesPerRound; ++page) {
            handWrittenPage(text);
        }
    });
    double oneThread = best([] { buildPages(threadCount * pagesPerRound); });
    double manyThreads = best([] {
        std::vector<std::thread> threads;
        for (int thread = 0; thread < threadCount; ++thread) {
            threads.emplace_back(buildPages, pagesPerRound);
        }
        for (auto& thread : threads) {
            thread.join();
        }
    });
    std::size_t elements = elementsIn(text);
    double builderAllocations = allocationsPerCall(builderPage) / static_cast<double>(elements);
    double handAllocations = allocationsPerCall([&] { handWrittenPage(text); });
    std::printf("page     builder %.0f ns, by hand %.0f ns per page: ratio %.2f\n",
                builder / pagesPerRound, byHand / pagesPerRound, builder / byHand);
    std::printf("threads  %d threads %.2f ms, one thread %.2f ms for %d pages: ratio %.2f\n",
                threadCount, manyThreads / 1e6, oneThread / 1e6, threadCount * pagesPerRound,
                oneThread / manyThreads);
    std::printf(
        "allocs   builder %.2f per element (%zu elements per page), by hand %.1f per page\n",
        builderAllocations, elements, handAllocations);
    return 0;
}
