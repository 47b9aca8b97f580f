#pragma once

#include "platform/sound/PulseLoop.h"
#include "platform/sound/Tap.h"
#include "platform/sound/TapGuard.h"
#include "platform/sound/TapModules.h"

#include <pulse/introspect.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace zivra::platform::sound {

// The tap as a null sink loaded through the server connection. Other
// programs' playback streams are moved onto it when it is created and
// whenever a new one appears; the streams of the server's own virtual devices
// (a remap sink's, a loopback's) stay where the server put them. The sink
// each came from is remembered unless it was the default, also in the
// runtime folder (TapRoutesFile.h), before the stream is moved; a stream on a
// sink whose name is not known is not moved until it is: one PipeWire has not
// placed yet, or placed on a sink the tap has not heard of yet, is looked at
// again on its change events and when a new sink's name comes. When the tap
// goes, each stream is moved back there, and unloading the sink sends the
// rest (following the default, or whose sink is gone) to the default sink.
// Streams that followed the default are not moved back by name, as the
// session manager would then keep them on that sink. A TapGuard does the
// same when Zivra ends without doing so. Main thread; it shares the server
// connection with the sound server; owned by its creator.
class PulseTap : public Tap {
public:
    // The sink's name, by which a tap left over by an earlier run is found.
    static constexpr const char* sinkName = pulse::tapSinkName;

    // Removes a leftover tap, starts the guard, then loads the sink, named
    // after its owner, at the default sink's rate and captures; the look for
    // a tap and the load are one step among the user's Zivras (TapLock.h):
    // while another one takes that step this throws SoundError at once
    // rather than wait. Throws SoundError, also when another Zivra's tap is
    // in use; ServerUnanswered when the server does not answer in time, also
    // when it does not list its sinks, without which no route could be kept.
    PulseTap(std::shared_ptr<PulseLoop> loop, const TapDescription& description);
    ~PulseTap() override;

    std::optional<StreamFormat> format() override;
    std::string sourceName() const override;

private:
    void captureExisting();
    void onEvent(pa_subscription_event_type_t type, std::uint32_t index);
    void query(pa_operation* operation);
    static void onSinkInputInfo(pa_context* context, const pa_sink_input_info* input, int eol,
                                void* self);
    static void onSinkInfo(pa_context* context, const pa_sink_info* sink, int eol, void* self);
    // Asks for the stream's record, which captures it (loop locked).
    void lookUpStream(std::uint32_t index);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);
    void capture(const pulse::SinkInputRecord& input);
    void forgetFinishedQueries();
    // Ends the events and the lookups under way (loop locked).
    void stopListening();
    // Removes what was made of the tap so far and throws: ServerUnanswered
    // while the server does not answer, otherwise SoundError with `error`.
    [[noreturn]] void giveUp(int error);
    // Gives the streams back and unloads the sink (loop locked); when the
    // server does not answer, or another process holds the tap lock, hands
    // that over to the guard instead, which may wait for either.
    void remove();

    std::shared_ptr<PulseLoop> loop_;
    std::optional<long> excludedProcessId_;
    pulse::TapIdentity identity_ = pulse::TapIdentity::next();
    TapGuard guard_{identity_}; // started before the module is loaded, told of it after
    std::uint32_t module_ = 0;
    std::uint32_t sink_ = 0;
    std::uint64_t subscriber_ = 0;
    std::vector<pa_operation*> queries_; // lookups under way (event thread)
    // Used with the loop locked: the names of the server's sinks by index and
    // of its default sink, and where each stream on the tap came from.
    std::map<std::uint32_t, std::string> sinkNames_;
    std::string defaultSink_;
    pulse::StreamRoutes routes_;
    // Streams left where they play for want of their sink's name, looked at
    // again until captured or gone. No other stream is captured twice, so one
    // the user moves off the tap stays where it was put.
    std::set<std::uint32_t> deferred_;
};

} // namespace zivra::platform::sound
