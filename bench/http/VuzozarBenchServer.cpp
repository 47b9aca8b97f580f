// The module's server answering GET /bench with a fixed body, for wrk.
#include "bench/http/BenchBody.h"

#include "http/HttpServer.h"

#include <csignal>
#include <cstdio>

using namespace vuzozar;

int main() {
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
    server->start(0, true, Priority::defaultPriority);
    std::printf("port %d\n", server->port());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server->stop();
    return 0;
}
