#include "platform/sound/RealtimeScheduling.h"

#include "platform/sound/Logging.h"

#include <dbus/dbus.h>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace zivra::platform::sound {
namespace {

constexpr const char* realtimeKit = "org.freedesktop.RealtimeKit1";
constexpr const char* realtimeKitPath = "/org/freedesktop/RealtimeKit1";
constexpr int busTimeoutMilliseconds = 1000;
// RealtimeKit's own default limit, and the one used where it is not asked.
constexpr std::int64_t realtimeRuntimeMicroseconds = 200000;

struct BusError : DBusError {
    BusError() { dbus_error_init(this); }
    ~BusError() { dbus_error_free(this); }
    BusError(const BusError&) = delete;
    BusError& operator=(const BusError&) = delete;
};

struct CloseBus {
    void operator()(DBusConnection* bus) const {
        dbus_connection_close(bus);
        dbus_connection_unref(bus);
    }
};
struct UnrefMessage {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Bus = std::unique_ptr<DBusConnection, CloseBus>;
using Message = std::unique_ptr<DBusMessage, UnrefMessage>;

// The write end of the pipe on which the SIGXCPU handler wakes the thread
// that logs it; -1 while there is none.
std::atomic<int> limitReached{-1};

bool isRealtime(int policy) {
    policy &= ~SCHED_RESET_ON_FORK;
    return policy == SCHED_FIFO || policy == SCHED_RR;
}

// The kernel id that an entry of /proc/self/task is named after, or 0.
pid_t taskId(const char* name) {
    pid_t id = 0;
    for (; *name >= '0' && *name <= '9'; ++name) {
        id = id * 10 + (*name - '0');
    }
    return *name == '\0' ? id : 0;
}

// Takes every real-time thread of the process back to normal scheduling,
// whichever of them ran too long. Async-signal-safe: system calls and the
// stack only.
void leaveRealtime() {
    const int tasks = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (tasks < 0) {
        return;
    }
    alignas(dirent64) char entries[2048];
    for (ssize_t got = 0; (got = getdents64(tasks, entries, sizeof entries)) > 0;) {
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
            const pid_t thread = taskId(entry->d_name);
            if (thread > 0 && isRealtime(sched_getscheduler(thread))) {
                const sched_param normal{};
                sched_setscheduler(thread, SCHED_OTHER, &normal);
            }
            at += entry->d_reclen;
        }
    }
    close(tasks);
}

// SIGXCPU: a real-time thread reached the soft limit without sleeping.
void onRealtimeLimit(int) {
    const int saved = errno;
    leaveRealtime();
    if (const int pipe = limitReached.load(); pipe >= 0) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t written = write(pipe, &byte, 1);
    }
    errno = saved;
}

// The thread that logs the first time the handler ran: neither the handler
// nor a real-time thread may log.
void* logWhenLimitReached(void* pipe) {
    pthread_setname_np(pthread_self(), "zivra.rtlimit");
    char byte = 0;
    while (read(static_cast<int>(reinterpret_cast<std::intptr_t>(pipe)), &byte, 1) < 0 &&
           errno == EINTR) {
    }
    qCWarning(soundLog) << "An audio thread ran to its real-time limit without sleeping: the audio "
                           "threads run at normal priority";
    return nullptr;
}

// Installs the SIGXCPU handler and the thread that logs it, once a process.
void handleRealtimeLimit() {
    static std::once_flag once;
    std::call_once(once, [] {
        int ends[2];
        pthread_t logger;
        if (pipe2(ends, O_CLOEXEC) == 0) {
            fcntl(ends[1], F_SETFL, O_NONBLOCK);
            if (pthread_create(&logger, nullptr, logWhenLimitReached,
                               reinterpret_cast<void*>(std::intptr_t{ends[0]})) == 0) {
                pthread_detach(logger);
                limitReached = ends[1];
            }
        }
        struct sigaction action {};
        action.sa_handler = onRealtimeLimit;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGXCPU, &action, nullptr);
    });
}

// Lowers the process's hard limit of real-time CPU time without a sleep to
// `microseconds` and its soft limit to half of that, leaving the handler of
// the soft one's SIGXCPU time to act before the hard one ends the process;
// lower limits already set stay. The kernel raises the soft limit by a second
// at each SIGXCPU; this lowers it again.
void limitRealtimeRuntime(std::int64_t microseconds) {
    rlimit limit{};
    if (microseconds <= 0 || getrlimit(RLIMIT_RTTIME, &limit) != 0) {
        return;
    }
    const rlim_t hard = std::min(limit.rlim_max, static_cast<rlim_t>(microseconds));
    const rlim_t soft = std::min(limit.rlim_cur, hard / 2);
    if (hard != limit.rlim_max || soft != limit.rlim_cur) {
        limit.rlim_cur = soft;
        limit.rlim_max = hard;
        setrlimit(RLIMIT_RTTIME, &limit);
    }
}

bool directly(pid_t thread, int priority, std::string& why) {
    for (int tried = priority; tried >= 1; --tried) {
        sched_param parameters{};
        parameters.sched_priority = tried;
        if (sched_setscheduler(thread, SCHED_FIFO | SCHED_RESET_ON_FORK, &parameters) == 0) {
            return true;
        }
        if (errno != EPERM) {
            break;
        }
    }
    why = std::strerror(errno);
    return false;
}

Message call(DBusConnection* bus, DBusMessage* request, std::string& why) {
    BusError error;
    Message reply(
        dbus_connection_send_with_reply_and_block(bus, request, busTimeoutMilliseconds, &error));
    if (!reply) {
        why = error.message ? error.message : "no reply";
    }
    return reply;
}

// One of RealtimeKit's integer properties.
std::optional<std::int64_t> property(DBusConnection* bus, const char* name, std::string& why) {
    const Message request(dbus_message_new_method_call(realtimeKit, realtimeKitPath,
                                                       "org.freedesktop.DBus.Properties", "Get"));
    if (!request || !dbus_message_append_args(request.get(), DBUS_TYPE_STRING, &realtimeKit,
                                              DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) {
        why = "out of memory";
        return std::nullopt;
    }
    const Message reply = call(bus, request.get(), why);
    DBusMessageIter iterator, variant;
    if (!reply || !dbus_message_iter_init(reply.get(), &iterator) ||
        dbus_message_iter_get_arg_type(&iterator) != DBUS_TYPE_VARIANT) {
        return std::nullopt;
    }
    dbus_message_iter_recurse(&iterator, &variant);
    if (dbus_message_iter_get_arg_type(&variant) == DBUS_TYPE_INT32) {
        dbus_int32_t value = 0;
        dbus_message_iter_get_basic(&variant, &value);
        return value;
    }
    if (dbus_message_iter_get_arg_type(&variant) == DBUS_TYPE_INT64) {
        dbus_int64_t value = 0;
        dbus_message_iter_get_basic(&variant, &value);
        return value;
    }
    why = std::string(name) + " is not an integer";
    return std::nullopt;
}

bool throughRealtimeKit(pid_t thread, int priority, std::string& why) {
    BusError error;
    const Bus bus(dbus_bus_get_private(DBUS_BUS_SYSTEM, &error));
    if (!bus) {
        why = error.message ? error.message : "no system bus";
        return false;
    }
    // The default would end the whole process should the bus go away.
    dbus_connection_set_exit_on_disconnect(bus.get(), FALSE);
    const auto highest = property(bus.get(), "MaxRealtimePriority", why);
    if (!highest) {
        return false;
    }
    if (*highest < 1) {
        why = "it allows no real-time priority";
        return false;
    }
    // The service grants real time only to a process whose limit is within its own.
    std::string ignored;
    limitRealtimeRuntime(
        property(bus.get(), "RTTimeUSecMax", ignored).value_or(realtimeRuntimeMicroseconds));
    const Message request(dbus_message_new_method_call(realtimeKit, realtimeKitPath, realtimeKit,
                                                       "MakeThreadRealtime"));
    const auto id = static_cast<dbus_uint64_t>(thread);
    const auto level = static_cast<dbus_uint32_t>(std::min<std::int64_t>(priority, *highest));
    if (!request || !dbus_message_append_args(request.get(), DBUS_TYPE_UINT64, &id,
                                              DBUS_TYPE_UINT32, &level, DBUS_TYPE_INVALID)) {
        why = "out of memory";
        return false;
    }
    return call(bus.get(), request.get(), why) != nullptr;
}

} // namespace

bool requestRealtime(pid_t thread, int priority) {
    handleRealtimeLimit();
    limitRealtimeRuntime(realtimeRuntimeMicroseconds);
    std::string directWhy, serviceWhy;
    if (directly(thread, priority, directWhy) || throughRealtimeKit(thread, priority, serviceWhy)) {
        qCDebug(soundLog) << "Thread" << thread << "runs in real time";
        return true;
    }
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true)) {
        qCWarning(soundLog).noquote()
            << "The audio threads run at normal priority: real-time scheduling was refused (" +
                   QString::fromStdString(directWhy) + "), and so was the real-time service (" +
                   QString::fromStdString(serviceWhy) + ")";
    }
    return false;
}

} // namespace zivra::platform::sound
