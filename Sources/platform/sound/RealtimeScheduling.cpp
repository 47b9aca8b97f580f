#include "platform/sound/RealtimeScheduling.h"

#include "platform/sound/Logging.h"

#include <dbus/dbus.h>

#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
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

// Lowers the process's limit of real-time CPU time without a sleep to
// `microseconds`; a lower limit already set stays.
void limitRealtimeRuntime(std::int64_t microseconds) {
    rlimit limit{};
    if (microseconds <= 0 || getrlimit(RLIMIT_RTTIME, &limit) != 0) {
        return;
    }
    const auto wanted = static_cast<rlim_t>(microseconds);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max <= wanted) {
        return;
    }
    limit.rlim_cur = limit.rlim_max = wanted;
    setrlimit(RLIMIT_RTTIME, &limit);
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
