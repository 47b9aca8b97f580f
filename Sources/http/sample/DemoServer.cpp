#include "http/sample/DemoServer.h"

#include "http/Print.h"
#include "http/files/DirectoryBrowser.h"
#include "http/files/FileHandlers.h"
#include "http/html/Scopes.h"
#include "http/sample/SampleHandlers.h"
#include "http/sample/SamplePages.h"

namespace vuzozar {

std::shared_ptr<HttpServer> demoServer(const std::string& publicDirectory) {
    printLine(publicDirectory);
    auto server = std::make_shared<HttpServer>();
    HttpServer& routes = *server;
    routes["/public/:path"] =
        shareFilesFromDirectory(publicDirectory, {"index.html", "default.html"});
    routes["/files/:path"] = directoryBrowser("/");
    routes["/"] = scopes(routeListPage(server));
    routes["/magic"] = magicHandler;
    routes["/test/:param1/:param2"] = requestInformationPage;
    routes.GET["/upload"] = scopes(uploadFormPage);
    routes.POST["/upload"] = uploadHandler;
    routes.GET["/login"] = scopes(loginPage);
    routes.POST["/login"] = loginHandler;
    routes["/demo"] = scopes(demoPage);
    routes["/raw"] = rawHandler;
    routes["/redirect/permanently"] = permanentRedirectHandler;
    routes["/redirect/temporarily"] = temporaryRedirectHandler;
    routes["/long"] = longHandler;
    routes["/wildcard/*/test/*/:param"] = wildcardHandler;
    routes["/stream"] = streamHandler;
    routes["/websocket-echo"] = websocketEchoHandler();
    server->notFoundHandler = notFoundRedirectHandler;
    server->middleware.push_back(loggingMiddleware);
    return server;
}

} // namespace vuzozar
