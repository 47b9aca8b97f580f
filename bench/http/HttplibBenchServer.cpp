// A plain cpp-httplib server answering GET /bench with the same body, and
// sharing the directory given as its argument, if any, at "/public/" with
// its static file server: the reference the module's server is measured
// against.
#include "bench/http/BenchBody.h"

#include <httplib.h>

#include <cstdio>
#include <limits>

int main(int argc, char** argv) {
    httplib::Server server;
    // As the module's server does; otherwise both would measure the peer's
    // delayed acknowledgements rather than themselves.
    server.set_tcp_nodelay(true);
    // cpp-httplib closes a kept-alive connection after 5 requests by
    // default; the module's server keeps it for as long as the client
    // wants, so the comparison does the same.
    server.set_keep_alive_max_count(std::numeric_limits<size_t>::max());
    server.Get("/bench", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(benchBody, "text/plain");
    });
    if (argc > 1 && !server.set_mount_point("/public", argv[1])) {
        std::fprintf(stderr, "cannot share %s\n", argv[1]);
        return 1;
    }
    int port = server.bind_to_any_port("127.0.0.1");
    std::printf("port %d\n", port);
    std::fflush(stdout);
    server.listen_after_bind();
    return 0;
}
