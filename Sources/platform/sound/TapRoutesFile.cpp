#include "platform/sound/TapRoutesFile.h"

#include "platform/sound/RuntimeFolder.h"
#include "platform/sound/TapGuardOrders.h"
#include "platform/sound/TapWarning.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace zivra::platform::sound {
namespace {

constexpr std::string_view routesPrefix = "zivra-tap-routes-";

// Far more than the routes of every stream a desktop plays; a larger file is
// not one a guard wrote.
constexpr off_t largestRoutesFile = 1 << 20;

// "zivra-tap-routes-<process id>-<start time>-<serial>"; empty without a
// runtime folder.
std::filesystem::path routesFile(const pulse::TapIdentity& tap) {
    const std::filesystem::path folder = runtimeFolder();
    if (folder.empty()) {
        return {};
    }
    return folder / (std::string(routesPrefix) + std::to_string(tap.owner.processId) + '-' +
                     std::to_string(tap.owner.startTime) + '-' + std::to_string(tap.serial));
}

// The owner of the tap whose routes a file of the runtime folder holds, or
// was being written aside for: the name goes on after the start time.
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

// All of what `in` holds, when it is at most `most` bytes and can be read.
std::optional<std::string> readAtMost(int in, std::size_t most) {
    std::string text(most + 1, '\0');
    std::size_t filled = 0;
    while (filled < text.size()) {
        const ssize_t count = ::read(in, text.data() + filled, text.size() - filled);
        if (count == 0) {
            break;
        }
        if (count < 0 && errno != EINTR) {
            return std::nullopt;
        }
        filled += static_cast<std::size_t>(std::max<ssize_t>(count, 0));
    }
    if (filled > most) {
        return std::nullopt;
    }
    text.resize(filled);
    return text;
}

// The text of a routes file that is a regular file of at most
// largestRoutesFile bytes; empty when there is none. Anything else in its
// place (a FIFO would block the start in open(), a link to /dev/zero would be
// read until memory runs out) is said and read as no routes.
std::string readRoutesFile(const std::filesystem::path& file) {
    const int in = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0 && errno == ENOENT) {
        return {};
    }
    const int openError = errno;
    struct stat status = {};
    std::optional<std::string> text;
    if (in >= 0 && ::fstat(in, &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_size <= largestRoutesFile) {
        text = readAtMost(in, static_cast<std::size_t>(status.st_size));
    }
    if (in >= 0) {
        ::close(in);
    }
    if (!text) {
        const std::string why = in >= 0 || openError == ELOOP
                                    ? "it is not a regular file of at most " +
                                          std::to_string(largestRoutesFile) + " bytes"
                                    : std::strerror(openError);
        warnAboutTap("The routes kept in " + file.string() + " are not read, " + why +
                     ": the streams on that tap go to the default sink");
    }
    return text.value_or(std::string());
}

} // namespace

void keepRoutes(const pulse::TapIdentity& tap, const pulse::StreamRoutes& routes) {
    const std::filesystem::path file = routesFile(tap);
    if (file.empty() || routes.empty()) {
        forgetRoutes(tap);
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

pulse::StreamRoutes keptRoutes(const pulse::TapIdentity& tap) {
    const std::filesystem::path file = routesFile(tap);
    if (file.empty()) {
        return {};
    }
    TapGuardOrders orders;
    orders.read(readRoutesFile(file));
    return orders.routes();
}

void forgetRoutes(const pulse::TapIdentity& tap) {
    const std::filesystem::path file = routesFile(tap);
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
