#include "platform/sound/TapRoutesFile.h"

#include "platform/sound/TapGuardOrders.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zivra::platform::sound {
namespace {

std::filesystem::path routesFile() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) {
        return {};
    }
    return std::filesystem::path(runtime) / "zivra-tap-routes";
}

} // namespace

void keepRoutes(const pulse::StreamRoutes& routes) {
    const std::filesystem::path file = routesFile();
    if (file.empty() || routes.empty()) {
        forgetRoutes();
        return;
    }
    // Written aside and renamed, so a reader never finds half of it.
    std::filesystem::path written = file;
    written += ".new";
    {
        std::ofstream out(written, std::ios::trunc);
        for (const auto& [input, sink] : routes) {
            out << routeOrder(input, sink);
        }
        if (!out) {
            return;
        }
    }
    std::error_code error;
    std::filesystem::rename(written, file, error);
}

pulse::StreamRoutes keptRoutes() {
    const std::filesystem::path file = routesFile();
    std::ifstream in(file);
    if (file.empty() || !in) {
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    TapGuardOrders orders;
    orders.read(text.str());
    return orders.routes();
}

void forgetRoutes() {
    const std::filesystem::path file = routesFile();
    std::error_code error;
    if (!file.empty()) {
        std::filesystem::remove(file, error);
    }
}

} // namespace zivra::platform::sound
