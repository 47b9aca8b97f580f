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

// One tap of one Zivra: its owner and the number the owner gave it. Unlike
// the index of the tap's module, which PipeWire hands out again once the
// module is gone, no other tap is ever known by it, also not a later one of
// the same Zivra. A plain value; any thread; nothing throws but
// std::bad_alloc.
struct TapIdentity {
    TapOwner owner;
    long long serial = 0;

    // A new tap of this process: a number not given before in it.
    static TapIdentity next();
    // The tap that a sink's properties (borrowed), or the sink properties in
    // a null sink module's argument, name; empty when they name none.
    static std::optional<TapIdentity> ofSink(const pa_proplist* properties);
    static std::optional<TapIdentity> ofModuleArgument(std::string_view argument);

    // The owner and the number as sink properties: "key=value ...".
    std::string sinkProperties() const;

    bool operator==(const TapIdentity&) const = default;
};

} // namespace zivra::platform::sound::pulse
