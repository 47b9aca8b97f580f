#include "platform/sound/TapRoutesFile.h"

#include "platform/sound/RuntimeFolder.h"
#include "platform/sound/TapGuardOrders.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

namespace zivra::platform::sound {
namespace {

constexpr std::string_view routesPrefix = "zivra-tap-routes-";

// "zivra-tap-routes-<process id>-<start time>"; empty without a runtime folder.
std::filesystem::path routesFile(const pulse::TapOwner& owner) {
    const std::filesystem::path folder = runtimeFolder();
    if (folder.empty()) {
        return {};
    }
    return folder / (std::string(routesPrefix) + std::to_string(owner.processId) + '-' +
                     std::to_string(owner.startTime));
}

// The owner whose routes a file of the runtime folder holds, or was being
// written aside for (the name then goes on after the start time).
std::optional<pulse::TapOwner> ownerOfFile(std::string_view name) {
    if (!name.starts_with(routesPrefix)) {
        return std::nullopt;
    }
    name.remove_prefix(routesPrefix.size());
    const char* end = name.data() + name.size();
    pulse::TapOwner owner;
    const auto [dash, error] = std::from_chars(name.data(), end, owner.processId);
    if (error != std::errc() || dash == end || *dash != '-') {
        return std::nullopt;
    }
    if (std::from_chars(dash + 1, end, owner.startTime).ec != std::errc()) {
        return std::nullopt;
    }
    return owner;
}

} // namespace

void keepRoutes(const pulse::TapOwner& owner, const pulse::StreamRoutes& routes) {
    const std::filesystem::path file = routesFile(owner);
    if (file.empty() || routes.empty()) {
        forgetRoutes(owner);
        return;
    }
    std::string text;
    for (const auto& [input, sink] : routes) {
        text += routeOrder(input, sink);
    }
    // Written aside and renamed, so a reader never finds half of it. The file
    // aside gets a name of its own and is made only where nothing is (mode
    // 0600): a link placed there is never followed, and the rename replaces
    // a link at the file's name instead of writing through it.
    std::string aside = file.string() + ".XXXXXX";
    const int out = ::mkostemp(aside.data(), O_CLOEXEC);
    if (out < 0) {
        return;
    }
    // A short write to a file is a failure (a full disk): nothing is kept then.
    const bool written = ::write(out, text.data(), text.size()) == std::ssize(text);
    if (::close(out) != 0 || !written || ::rename(aside.c_str(), file.c_str()) != 0) {
        ::unlink(aside.c_str());
    }
}

pulse::StreamRoutes keptRoutes(const pulse::TapOwner& owner) {
    const std::filesystem::path file = routesFile(owner);
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

void forgetRoutes(const pulse::TapOwner& owner) {
    const std::filesystem::path file = routesFile(owner);
    std::error_code error;
    if (!file.empty()) {
        std::filesystem::remove(file, error);
    }
}

void forgetEndedRoutes() {
    const std::filesystem::path folder = runtimeFolder();
    std::error_code error;
    if (folder.empty()) {
        return;
    }
    for (auto entry = std::filesystem::directory_iterator(folder, error);
         !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        const auto owner = ownerOfFile(entry->path().filename().native());
        if (owner && !owner->isRunning()) {
            std::error_code ignored;
            std::filesystem::remove(entry->path(), ignored);
        }
    }
}

} // namespace zivra::platform::sound
