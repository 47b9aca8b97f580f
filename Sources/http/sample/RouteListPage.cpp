#include "http/sample/SamplePages.h"

#include "http/html/Attributes.h"
#include "http/html/Elements.h"

#include <string>
#include <vector>

namespace vuzozar {

Closure routeListPage(std::weak_ptr<HttpServer> server) {
    return [server = std::move(server)] {
        html([&] {
            body([&] {
                auto owner = server.lock();
                std::vector<std::string> routes =
                    owner ? owner->routes() : std::vector<std::string>();
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
    };
}

} // namespace vuzozar
