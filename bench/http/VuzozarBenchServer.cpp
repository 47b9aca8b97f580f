// The module's server answering GET /bench with a fixed body, for wrk, and
// sharing the directory given as its argument, if any, at "/public/".
#include "bench/http/BenchBody.h"

#include "http/HttpServer.h"
#include "http/files/FileHandlers.h"

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    using namespace vuzozar;
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    auto server = std::make_shared<HttpServer>();
    server->listenAddressIPv4 = "127.0.0.1";
    server->GET["/bench"] = [](const HttpRequestPtr&) {
        return HttpResponse::ok(HttpResponseBody::text(benchBody));
    };
    if (argc > 1) {
        (*server)["/public/:path"] = shareFilesFromDirectory(argv[1], {});
    }
    server->start(0, true, Priority::defaultPriority);
    std::printf("port %d\n", server->port());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server->stop();
    return 0;
}
