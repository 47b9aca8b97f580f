#pragma once

#include "platform/sound/PulseLoop.h"
#include "platform/sound/SoundServer.h"
#include "platform/sound/TapOwner.h"

#include <pulse/introspect.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Blocking requests on a PulseLoop. Every function expects the loop to be
// locked by the caller (PulseLoop::Lock) and waits for the server's answer.
// Functions that change something return 0 or the server's error code; while
// the loop awaits an answer they send nothing and return PA_ERR_TIMEOUT.
// Lookups answer empty when the request fails. Results are copies; nothing
// throws but std::bad_alloc.
namespace zivra::platform::sound::pulse {

struct SinkRecord {
    SinkInfo info;
    StreamFormat format;
    std::uint32_t ownerModule = 0;
    std::optional<TapOwner> tapOwner;       // the process that made it, when it is a tap that says
    std::optional<TapIdentity> tapIdentity; // which of its taps, when it says
};

struct SinkInputRecord {
    std::uint32_t index = 0;
    std::uint32_t sink = 0; // PA_INVALID_INDEX while PipeWire has not placed a new stream yet
    std::optional<long> processId; // application.process.id, when the stream tells
    std::string target;            // target.object: the sink PipeWire places it on, when asked for
    // Played by the server itself for one of its virtual devices (a remap or
    // combine sink, a loopback, an echo canceller), not by a program.
    bool ofTheServer = false;
};

struct ModuleRecord {
    std::uint32_t index = 0;
    std::string name;
    std::string argument;
};

std::optional<std::vector<SinkRecord>> listSinks(PulseLoop& loop);
std::optional<SinkRecord> sinkByIndex(PulseLoop& loop, std::uint32_t index);
std::optional<SinkRecord> sinkByName(PulseLoop& loop, const std::string& name);
std::optional<std::string> defaultSinkName(PulseLoop& loop);
std::optional<std::vector<SinkInputRecord>> listSinkInputs(PulseLoop& loop);
std::optional<std::vector<ModuleRecord>> listModules(PulseLoop& loop);

int setDefaultSink(PulseLoop& loop, const std::string& name);
int loadModule(PulseLoop& loop, const std::string& name, const std::string& argument,
               std::uint32_t& index);
int unloadModule(PulseLoop& loop, std::uint32_t index);
int moveSinkInput(PulseLoop& loop, std::uint32_t input, const std::string& sink);

// A sink input's record, read from what the server reported. Any thread;
// throws nothing but std::bad_alloc.
SinkInputRecord toRecord(const pa_sink_input_info& input);

} // namespace zivra::platform::sound::pulse
