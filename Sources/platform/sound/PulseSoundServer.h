#pragma once

#include "platform/sound/PulseLoop.h"
#include "platform/sound/ServerWatch.h"
#include "platform/sound/SoundServer.h"

#include <pulse/introspect.h>

#include <map>
#include <memory>
#include <string>

namespace zivra::platform::sound {

// SoundServer over libpulse. Answers are read with blocking requests on the
// server connection; change events arrive on its event thread and are passed
// to the listeners on the Qt main thread. The contract is SoundServer's; own
// it through std::shared_ptr (what it posts to the main thread holds it weakly).
class PulseSoundServer : public SoundServer, public std::enable_shared_from_this<PulseSoundServer> {
public:
    PulseSoundServer() = default;
    ~PulseSoundServer() override;

    std::optional<std::vector<SinkInfo>> sinks() override;
    std::optional<SinkInfo> sink(std::uint32_t index) override;
    std::optional<std::uint32_t> defaultSink() override;
    int setDefaultSink(std::uint32_t index) override;
    ListenerId addListener(DeviceChange change, std::function<void()> callback) override;
    void removeListener(ListenerId id) override;
    ListenerId addServerListener(std::function<void(bool answers)> callback) override;
    bool awaitsAnswer() override;
    std::unique_ptr<Tap> createTap(const TapDescription& description) override;
    std::unique_ptr<CaptureDevice> createCaptureDevice(const Tap& tap,
                                                       const std::string& name) override;
    std::unique_ptr<OutputGraph> createOutputGraph(const StreamFormat& format) override;

private:
    struct Listener {
        DeviceChange change;
        std::function<void()> callback;
    };

    // The live connection, made on first use and again after the server went
    // away; null when the server cannot be reached.
    std::shared_ptr<PulseLoop> connection();
    std::shared_ptr<PulseLoop> connectOrThrow();
    void disconnect();
    // Main thread: the connection that the event thread found lost, and the
    // one on which the server answered again after a wait ran out.
    void onLost(const std::weak_ptr<PulseLoop>& lost);
    void onAnswered(const std::weak_ptr<PulseLoop>& answered);
    void onEvent(PulseLoop& loop, pa_subscription_event_type_t type);
    void checkDefaultSink(pa_context* context);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);
    static void onSettleTimer(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                              void* self);
    void notify(DeviceChange change);

    std::shared_ptr<PulseLoop> loop_;
    std::uint64_t subscriber_ = 0;
    // Default-sink watch, used with loop_ locked: the name last seen, the
    // request under way and whether another event came while it ran.
    std::string knownDefault_;
    pa_operation* defaultQuery_ = nullptr;
    bool recheckDefault_ = false;
    // A server event can come before the server's information shows the new
    // default: an unchanged answer is asked again a few times, a moment apart.
    int settleChecks_ = 0;
    pa_time_event* settleTimer_ = nullptr;
    std::map<ListenerId, Listener> listeners_;
    ListenerId nextListener_ = 1;
    // Declared last: destroyed first, it drops the news still on its way.
    ServerWatch watch_{[this] { connection(); }};
};

} // namespace zivra::platform::sound
