// Feeds arbitrary bytes as one connection's input to the request parser, the
// form decoders and the router, as the server's connection loop would.
#include "http/HttpParser.h"
#include "http/HttpRouter.h"

#include <sys/socket.h>
#include <unistd.h>

using namespace vuzozar;

namespace {

constexpr size_t maxInput = 65536; // fits a socket pair's buffer whole

HttpRouter& router() {
    static HttpRouter* routes = [] {
        auto* router = new HttpRouter;
        auto answer = [](const HttpRequestPtr&) { return HttpResponse::notFound(); };
        for (const char* path :
             {"/", "/a/:x", "/a/b", "/x/**/y", "/w/*/v", "/handoff/:token/stream"}) {
            router->register_("GET", path, answer);
            router->register_(std::nullopt, path, answer);
        }
        return router;
    }();
    return *routes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > maxInput) {
        return 0;
    }
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        return 0;
    }
    if (size > 0 && send(fds[1], data, size, MSG_NOSIGNAL) != ssize_t(size)) {
        close(fds[0]);
        close(fds[1]);
        return 0;
    }
    shutdown(fds[1], SHUT_WR);
    Socket socket(fds[0]);
    HttpParser parser;
    try {
        while (true) {
            auto request = parser.readHttpRequest(socket);
            request->parseUrlencodedForm();
            for (const auto& part : request->parseMultiPartFormData()) {
                part.name();
                part.fileName();
            }
            request->hasTokenForHeader("connection", "upgrade");
            router().route(request->method, request->path);
        }
    } catch (const std::exception&) {
    }
    close(fds[1]);
    return 0;
}
