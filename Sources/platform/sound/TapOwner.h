#pragma once

#include <pulse/proplist.h>

#include <optional>
#include <string>
#include <string_view>

namespace zivra::platform::sound::pulse {

// The process that made a tap, written into the tap sink's properties so that
// a later start, or a guard, can tell a tap in use from one left behind. The
// process id alone could name an unrelated process that was given the same
// number later, so the process's start time goes with it. A plain value; any
// thread; nothing throws but std::bad_alloc.
struct TapOwner {
    long processId = 0;
    long long startTime = 0; // clock ticks after boot, as the kernel tells

    // This process.
    static TapOwner self();
    // The process of that id while it runs; empty once it has ended, also
    // while its parent has not reaped it yet.
    static std::optional<TapOwner> ofProcess(long processId);
    // The owner a sink's properties name (borrowed); empty when they name none.
    static std::optional<TapOwner> ofSink(const pa_proplist* properties);
    // The owner named by the sink properties in a null sink module's argument
    // ("... sink_properties='key=value ...'"), which the server lists before
    // the sink itself; empty when they name none.
    static std::optional<TapOwner> ofModuleArgument(std::string_view argument);

    // Whether the process that made the tap is still running.
    bool isRunning() const;
    // The owner as sink properties for a module argument: "key=value key=value".
    std::string sinkProperties() const;

    bool operator==(const TapOwner&) const = default;
};

} // namespace zivra::platform::sound::pulse
