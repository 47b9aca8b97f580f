// A server of the file-sharing handlers for the real-peer tests:
//   FileSharingServer DIRECTORY SHARED_FILE
// serves DIRECTORY at "/public/:path" (defaults "index.html", "default.html"),
// browses it at "/files/:path" and sends SHARED_FILE at "/one" and below;
// prints "port N", serves until SIGTERM.
#include "tests/http/ServeUntilSignal.h"

#include "http/HttpServer.h"
#include "http/files/DirectoryBrowser.h"
#include "http/files/FileHandlers.h"

#include <cstdio>

namespace vuzozar {

namespace {

// The handler as the router cannot call it: with an empty path parameter.
HttpRequestHandler withEmptyParameter(HttpRequestHandler handler) {
    return [handler = std::move(handler)](const HttpRequestPtr& request) {
        request->params[":path"] = "";
        return handler(request);
    };
}

} // namespace

} // namespace vuzozar

int main(int argc, char** argv) {
    using namespace vuzozar;
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DIRECTORY SHARED_FILE\n", argv[0]);
        return 2;
    }
    sigset_t stopSignals = blockStopSignals();
    std::string directory = argv[1];
    std::string sharedFile = argv[2];
    auto server = std::make_shared<HttpServer>();
    server->listenAddressIPv4 = "127.0.0.1";
    // No route takes a body.
    server->setMaxBodyLength(int64_t(64) << 10);
    auto shared = shareFilesFromDirectory(directory, {"index.html", "default.html"});
    (*server)["/public/:path"] = shared;
    (*server)["/defaults"] = withEmptyParameter(shared);
    (*server)["/no-defaults"] = withEmptyParameter(shareFilesFromDirectory(directory, {}));
    (*server)["/files/:path"] = directoryBrowser(directory);
    (*server)["/browse-empty"] = withEmptyParameter(directoryBrowser(directory));
    (*server)["/one"] = shareFile(sharedFile);
    (*server)["/one/:anything"] = shareFile(sharedFile);
    (*server)["/missing"] = shareFile(directory + "/no such file");
    (*server)["/directory"] = shareFile(directory);
    serveUntilSignal(server, stopSignals);
    return 0;
}
