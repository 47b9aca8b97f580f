#pragma once

#include "platform/sound/PulseLoop.h"
#include "platform/sound/Tap.h"
#include "platform/sound/TapGuard.h"
#include "platform/sound/TapModules.h"

#include <pulse/introspect.h>

#include <memory>
#include <vector>

namespace zivra::platform::sound {

// The tap as a null sink loaded through the server connection. Foreign
// playback streams are moved onto it when it is created and whenever a new
// one appears; unloading the sink makes the server send them back to its
// default sink. A TapGuard unloads it when Zivra ends without doing so. Main
// thread; it shares the server connection with the sound server; owned by
// its creator.
class PulseTap : public Tap {
public:
    // The sink's name, by which a tap left over by an earlier run is found.
    static constexpr const char* sinkName = pulse::tapSinkName;

    // Removes a leftover tap, starts the guard, then loads the sink, named
    // after its owner, at the default sink's rate and captures. Throws
    // SoundError, also when another Zivra's tap is in use.
    PulseTap(std::shared_ptr<PulseLoop> loop, const TapDescription& description);
    ~PulseTap() override;

    std::optional<StreamFormat> format() override;
    std::string sourceName() const override;

private:
    void captureExisting();
    void onSinkInputAdded(std::uint32_t index);
    static void onSinkInputInfo(pa_context* context, const pa_sink_input_info* input, int eol,
                                void* self);
    void capture(std::uint32_t input, std::uint32_t sink, std::optional<long> processId);
    void forgetFinishedQueries();

    std::shared_ptr<PulseLoop> loop_;
    std::optional<long> excludedProcessId_;
    TapGuard guard_; // started before the module is loaded, told of it after
    std::uint32_t module_ = 0;
    std::uint32_t sink_ = 0;
    std::uint64_t subscriber_ = 0;
    std::vector<pa_operation*> queries_; // sink-input lookups under way (event thread)
};

} // namespace zivra::platform::sound
