#pragma once

#include "platform/sound/PulseLoop.h"
#include "platform/sound/SoundServer.h"
#include "platform/sound/TapOwner.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Blocking requests on a PulseLoop. Every function expects the loop to be
// locked by the caller (PulseLoop::Lock) and waits for the server's answer.
// Functions that change something return 0 or the server's error code.
// Lookups answer empty (or an empty list) when the request fails. Results are
// copies; nothing throws but std::bad_alloc.
namespace zivra::platform::sound::pulse {

struct SinkRecord {
    SinkInfo info;
    StreamFormat format;
    std::uint32_t ownerModule = 0;
    std::optional<TapOwner> tapOwner; // the process that made it, when it is a tap that says
};

struct SinkInputRecord {
    std::uint32_t index = 0;
    std::uint32_t sink = 0;
    std::optional<long> processId; // application.process.id, when the stream tells
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
std::vector<SinkInputRecord> listSinkInputs(PulseLoop& loop);
std::vector<ModuleRecord> listModules(PulseLoop& loop);

int setDefaultSink(PulseLoop& loop, const std::string& name);
int loadModule(PulseLoop& loop, const std::string& name, const std::string& argument,
               std::uint32_t& index);
int unloadModule(PulseLoop& loop, std::uint32_t index);

} // namespace zivra::platform::sound::pulse
