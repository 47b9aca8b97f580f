#pragma once

#include "platform/sound/OutputGraph.h"
#include "platform/sound/PulseLoop.h"
#include "platform/sound/RenderGraph.h"

#include <pulse/stream.h>
#include <pulse/timeval.h>

#include <functional>
#include <optional>
#include <string>

namespace zivra::platform::sound {

// The output graph as a playback stream on its own connection, whose event
// thread is the render thread, run in real time where allowed
// (requestRealtime): each write request of the stream pulls the render
// graph. The stream is pinned to its sink (it must never follow streams onto
// the tap). The contract is OutputGraph's: main thread, owned by its
// creator, errors as SoundError.
class PulseOutputGraph : public OutputGraph {
public:
    // Connects to the server; throws SoundError.
    explicit PulseOutputGraph(const StreamFormat& format);
    ~PulseOutputGraph() override;

    void setSource(RenderBlock block) override;
    void setPitch(float cents) override;
    void setBypass(bool bypass) override;
    std::uint32_t streamMixerChannelCount() const override;
    void installTap(std::uint32_t bufferFrames, TapBlock block) override;
    void removeTap() override;
    int setOutputDevice(std::uint32_t sinkIndex) override;
    void setEndedHandler(std::function<void()> handler) override;
    void setVolume(float volume) override;
    float volume() const override;
    void start() override;
    void stop() override;
    bool isHeld() const override;

private:
    static void onWrite(pa_stream* stream, std::size_t bytes, void* self);
    static void onState(pa_stream* stream, void* self);

    StreamFormat format_;
    PulseLoop loop_;
    RenderGraph graph_;
    std::optional<std::string> sinkName_;
    std::function<void()> ended_;
    // Set once the stream is ready, so that a failed start is reported by
    // start() alone and not as an ending too. Changed with the loop locked.
    bool playing_ = false;
    pa_stream* stream_ = nullptr;
};

} // namespace zivra::platform::sound
