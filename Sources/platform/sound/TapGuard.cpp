#include "platform/sound/TapGuard.h"

#include "platform/sound/SoundError.h"
#include "platform/sound/TapGuardOrders.h"

#include <pulse/def.h>

#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

extern char** environ;

namespace zivra::platform::sound {
namespace {

constexpr const char* guardName = "zivra-tapguard";

// Next to the running program; programs run from the build tree (tests) use
// the one the build made.
std::string guardProgram() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path beside = self.parent_path() / guardName;
        if (::access(beside.c_str(), X_OK) == 0) {
            return beside;
        }
    }
    return ZIVRA_TAP_GUARD_BUILD_PATH;
}

void awaitEnd(pid_t process) {
    while (::waitpid(process, nullptr, 0) < 0 && errno == EINTR) {
    }
}

[[noreturn]] void failToStart(int error) {
    throw SoundError(PA_ERR_INTERNAL,
                     std::string("Could not start ") + guardName + ": " + std::strerror(error));
}

} // namespace

TapGuard::TapGuard(const pulse::TapIdentity& tap) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        failToStart(errno);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The guard reads its orders on standard input and inherits nothing else
    // of Zivra's but its output, where it reports a failure.
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own: a Ctrl-C meant for Zivra's terminal does not end
    // the guard before it has done its work. No signal is blocked in it.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);

    const std::string program = guardProgram();
    // Told rather than asked of the parent: Zivra may end before the guard
    // gets to ask, and the guard would then find another parent.
    std::string processId = std::to_string(tap.owner.processId);
    std::string startTime = std::to_string(tap.owner.startTime);
    std::string serial = std::to_string(tap.serial);
    char* arguments[] = {const_cast<char*>(guardName), processId.data(), startTime.data(),
                         serial.data(), nullptr};
    const int status =
        posix_spawn(&process_, program.c_str(), &actions, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (status != 0) {
        ::close(ends[0]);
        failToStart(status);
    }
    socket_ = ends[0];
}

TapGuard::~TapGuard() {
    if (handedOver_) {
        return;
    }
    send(releaseOrder);
    ::close(socket_);
    awaitEnd(process_);
}

void TapGuard::handOver() {
    if (handedOver_) {
        return;
    }
    handedOver_ = true;
    // The guard takes the closed socket for Zivra's end. Its number is
    // forgotten: a later order must not reach whatever is given it next.
    ::close(socket_);
    socket_ = -1;
    std::thread(awaitEnd, process_).detach();
}

void TapGuard::hold(std::uint32_t module) {
    if (!send(holdOrder(module))) {
        throw SoundError(PA_ERR_INTERNAL, std::string(guardName) + " ended early");
    }
}

void TapGuard::route(std::uint32_t input, const std::string& sink) {
    if (const std::string order = routeOrder(input, sink); !order.empty()) {
        send(order);
    }
}

void TapGuard::forget(std::uint32_t input) {
    send(forgetOrder(input));
}

bool TapGuard::givesBack() const {
    if (socket_ < 0) {
        return false;
    }
    pollfd end{socket_, POLLRDHUP, 0};
    siginfo_t ended{};
    return ::poll(&end, 1, 0) == 1 && (end.revents & (POLLRDHUP | POLLHUP)) != 0 &&
           ::waitid(P_PID, static_cast<id_t>(process_), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           ended.si_pid == 0;
}

bool TapGuard::send(std::string_view order) {
    if (socket_ < 0) {
        return false;
    }
    while (!order.empty()) {
        // MSG_NOSIGNAL: a guard that is gone must not take Zivra with it.
        const ssize_t sent = ::send(socket_, order.data(), order.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        order.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

} // namespace zivra::platform::sound
