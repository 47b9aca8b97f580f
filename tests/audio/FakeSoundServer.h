#pragma once

#include "platform/sound/SoundError.h"
#include "platform/sound/SoundServer.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zivra::audio {

// A sound server in memory. Every call that creates, starts, stops or
// destroys something is written to `log`, so tests can check what exists and
// in which order things happened. `failAt` makes one step fail.
class FakeSoundServer : public zivra::platform::sound::SoundServer {
public:
    enum class Step {
        none,
        defaultSink,
        createTap,
        tapFormat,
        createCaptureDevice,
        createGraph,
        graphIsNull,
        createIOProc,
        captureStart,
        graphStart,
    };

    std::vector<zivra::platform::sound::SinkInfo> sinkList;
    bool sinkListReadable = true;
    std::optional<std::uint32_t> defaultSinkIndex;
    int setDefaultStatus = 0;
    Step failAt = Step::none;
    int aliveOnRead = 1;        // the capture device is alive from this read on (0: never)
    double nominalRate = 48000; // 0: cannot be read
    std::uint32_t mixerChannels = 2;
    zivra::platform::sound::StreamFormat tapFormat{44100, 2};
    bool tapRemoved = false; // someone removed the current tap's sink
    bool unanswered = false; // a wait ran out and the server has not answered since
    std::function<void(bool answers)> serverListener;

    std::vector<std::string> log;
    int aliveReads = 0;
    std::map<zivra::platform::sound::ListenerId,
             std::pair<zivra::platform::sound::DeviceChange, std::function<void()>>>
        listeners;

    // What the current graph was told.
    struct GraphState {
        std::vector<float> pitches;
        std::vector<bool> bypasses;
        float volume = 1;
        std::optional<std::uint32_t> outputDevice;
        std::uint32_t tapFrames = 0;
        std::function<void()> ended;
        zivra::platform::sound::TapBlock tap;
        zivra::platform::sound::RenderBlock source;
        zivra::platform::sound::StreamFormat format;
        bool started = false;
    };
    std::shared_ptr<GraphState> graph;
    zivra::platform::sound::CaptureBlock capture;
    std::function<void()> captureEnded; // the current capture device's
    bool captureDead = false;           // its stream ended

    // The server ends the capture stream.
    void endCapture() {
        captureDead = true;
        captureEnded();
    }

    int count(const std::string& entry) const {
        return static_cast<int>(std::count(log.begin(), log.end(), entry));
    }
    // Objects created and not yet destroyed.
    int live(const std::string& kind) const {
        return count("create " + kind) - count("destroy " + kind);
    }
    bool nothingLeft() const {
        return live("tap") == 0 && live("capture") == 0 && live("graph") == 0 && !capture;
    }
    void notify(zivra::platform::sound::DeviceChange change) {
        for (auto& [id, listener] : std::map(listeners)) {
            if (listener.first == change) {
                listener.second();
            }
        }
    }

    std::optional<std::vector<zivra::platform::sound::SinkInfo>> sinks() override {
        if (!sinkListReadable) {
            return std::nullopt;
        }
        return sinkList;
    }
    std::optional<zivra::platform::sound::SinkInfo> sink(std::uint32_t index) override {
        for (const auto& s : sinkList) {
            if (s.index == index) {
                return s;
            }
        }
        return std::nullopt;
    }
    std::optional<std::uint32_t> defaultSink() override {
        fail(Step::defaultSink);
        return defaultSinkIndex;
    }
    int setDefaultSink(std::uint32_t index) override {
        log.push_back("setDefaultSink " + std::to_string(index));
        if (setDefaultStatus == 0) {
            defaultSinkIndex = index;
        }
        return setDefaultStatus;
    }
    zivra::platform::sound::ListenerId addListener(zivra::platform::sound::DeviceChange change,
                                                   std::function<void()> callback) override {
        const zivra::platform::sound::ListenerId id = ++nextListener;
        listeners[id] = {change, std::move(callback)};
        log.push_back("add listener");
        return id;
    }
    zivra::platform::sound::ListenerId
    addServerListener(std::function<void(bool answers)> callback) override {
        serverListener = std::move(callback);
        return ++nextListener;
    }
    bool awaitsAnswer() override { return unanswered; }
    void removeListener(zivra::platform::sound::ListenerId id) override {
        listeners.erase(id);
        log.push_back("remove listener");
    }

    std::unique_ptr<zivra::platform::sound::Tap>
    createTap(const zivra::platform::sound::TapDescription& d) override {
        fail(Step::createTap);
        lastTap = d;
        tapRemoved = false;
        return std::make_unique<Tap>(*this);
    }
    std::unique_ptr<zivra::platform::sound::CaptureDevice>
    createCaptureDevice(const zivra::platform::sound::Tap&, const std::string& name) override {
        fail(Step::createCaptureDevice);
        captureName = name;
        captureDead = false;
        return std::make_unique<Capture>(*this);
    }
    std::unique_ptr<zivra::platform::sound::OutputGraph>
    createOutputGraph(const zivra::platform::sound::StreamFormat& format) override {
        fail(Step::createGraph);
        if (failAt == Step::graphIsNull) {
            return nullptr;
        }
        graph = std::make_shared<GraphState>();
        graph->format = format;
        return std::make_unique<Graph>(*this, graph);
    }

    zivra::platform::sound::TapDescription lastTap;
    std::string captureName;

private:
    void fail(Step step) {
        if (failAt == step) {
            throw zivra::platform::sound::SoundError(-3, "fake failure");
        }
    }

    struct Tap : zivra::platform::sound::Tap {
        explicit Tap(FakeSoundServer& s) : server(s) { server.log.push_back("create tap"); }
        ~Tap() override { server.log.push_back("destroy tap"); }
        std::optional<zivra::platform::sound::StreamFormat> format() override {
            if (server.failAt == Step::tapFormat || server.tapRemoved) {
                return std::nullopt;
            }
            return server.tapFormat;
        }
        std::string sourceName() const override { return "tap.monitor"; }
        FakeSoundServer& server;
    };

    struct Capture : zivra::platform::sound::CaptureDevice {
        explicit Capture(FakeSoundServer& s) : server(s) { server.log.push_back("create capture"); }
        ~Capture() override { server.log.push_back("destroy capture"); }
        bool isAlive() override {
            ++server.aliveReads;
            return server.aliveOnRead != 0 && server.aliveReads >= server.aliveOnRead &&
                   !server.captureDead;
        }
        std::optional<double> nominalSampleRate() override {
            if (server.nominalRate == 0) {
                return std::nullopt;
            }
            return server.nominalRate;
        }
        void setEndedHandler(std::function<void()> handler) override {
            server.captureEnded = std::move(handler);
        }
        void createIOProc(zivra::platform::sound::CaptureBlock block) override {
            server.fail(Step::createIOProc);
            server.capture = std::move(block);
            server.log.push_back("create ioproc");
        }
        void destroyIOProc() override {
            server.capture = nullptr;
            server.log.push_back("destroy ioproc");
        }
        void start() override {
            server.fail(Step::captureStart);
            server.log.push_back("start capture");
        }
        void stop() override { server.log.push_back("stop capture"); }
        FakeSoundServer& server;
    };

    struct Graph : zivra::platform::sound::OutputGraph {
        Graph(FakeSoundServer& s, std::shared_ptr<GraphState> st)
            : server(s), state(std::move(st)) {
            server.log.push_back("create graph");
        }
        ~Graph() override { server.log.push_back("destroy graph"); }
        void setSource(zivra::platform::sound::RenderBlock block) override {
            state->source = std::move(block);
        }
        void setPitch(float cents) override {
            state->pitches.push_back(cents);
            server.log.push_back("pitch");
        }
        void setBypass(bool bypass) override { state->bypasses.push_back(bypass); }
        std::uint32_t streamMixerChannelCount() const override { return server.mixerChannels; }
        void installTap(std::uint32_t frames, zivra::platform::sound::TapBlock block) override {
            state->tapFrames = frames;
            state->tap = std::move(block);
            server.log.push_back("install tap");
        }
        void removeTap() override {
            state->tap = nullptr;
            server.log.push_back("remove tap");
        }
        int setOutputDevice(std::uint32_t sink) override {
            state->outputDevice = sink;
            return 0;
        }
        void setEndedHandler(std::function<void()> handler) override {
            state->ended = std::move(handler);
        }
        void setVolume(float volume) override { state->volume = volume; }
        float volume() const override { return state->volume; }
        void start() override {
            server.fail(Step::graphStart);
            state->started = true;
            server.log.push_back("start graph");
        }
        void stop() override {
            state->started = false;
            server.log.push_back("stop graph");
        }
        FakeSoundServer& server;
        std::shared_ptr<GraphState> state;
    };

    zivra::platform::sound::ListenerId nextListener = 0;
};

} // namespace zivra::audio
