// Speed of the HTML builder, each against a reference measured in the same
// run:
//   page     a 17-link route list built with the builder vs the same text
//            appended to a string by hand
//   threads  that page built by 8 threads at once vs by one thread, the same
//            number of pages in all (page builds take turns under one lock,
//            so this shows what the lock costs a busy server)
// Prints the best of several rounds and the ratios.
#include "http/html/Attributes.h"
#include "http/html/Elements.h"
#include "http/html/ScopesBuffer.h"

#include <algorithm>
#include <chrono>
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
    std::printf("page     builder %.0f ns, by hand %.0f ns per page: ratio %.1f\n",
                builder / pagesPerRound, byHand / pagesPerRound, builder / byHand);
    std::printf("threads  %d threads %.2f ms, one thread %.2f ms for %d pages: ratio %.2f\n",
                threadCount, manyThreads / 1e6, oneThread / 1e6, threadCount * pagesPerRound,
                manyThreads / oneThread);
    return 0;
}
