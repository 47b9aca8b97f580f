#pragma once

#include "audio/ZivraAudio.h"
#include "audio/ZivraAudioEnvironment.h"
#include "tests/audio/FakeSoundServer.h"

#include <QCoreApplication>
#include <QSettings>

#include <gtest/gtest.h>

#include <deque>
#include <memory>

namespace zivra::audio {

// A permission whose answers the test chooses.
class FakePermission : public ZivraAudioPermission {
public:
    bool preflight = true;
    bool grant = true;
    int requests = 0;
    bool preflightAudioCapture() const override { return preflight; }
    void requestAudioCapturePermission(std::function<void(bool)> completion) override {
        ++requests;
        completion(grant);
    }
};

// An engine over the fake sound server. Sleeps are recorded and run only when
// the test says so; main-loop tasks run in settle().
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings(QStringLiteral("velmora"), QStringLiteral("zivra")).clear();
        server->sinkList = {{40, "speakers", "Speakers", 2}, {41, "headphones", "Headphones", 2}};
        server->defaultSinkIndex = 40;
    }

    ZivraAudio& engine() {
        if (!engine_) {
            ZivraAudioEnvironment environment{
                server, &permission,
                [this](std::chrono::milliseconds delay, std::function<void()> then) {
                    sleeps.push_back(delay);
                    pendingSleeps.push_back(std::move(then));
                }};
            engine_ = std::make_unique<ZivraAudio>(std::move(environment));
            engine_->broadcastStateHandler = [this] { ++broadcasts; };
        }
        return *engine_;
    }

    // Runs queued main-loop tasks and recorded sleeps until nothing is left.
    void settle() {
        for (int round = 0; round < 1000; ++round) {
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents();
            if (pendingSleeps.empty()) {
                QCoreApplication::processEvents();
                if (pendingSleeps.empty()) {
                    return;
                }
            }
            while (!pendingSleeps.empty()) {
                auto next = std::move(pendingSleeps.front());
                pendingSleeps.pop_front();
                next();
            }
        }
    }

    // Runs main-loop tasks but no sleep.
    void runTasks() {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    std::shared_ptr<FakeSoundServer> server = std::make_shared<FakeSoundServer>();
    FakePermission permission;
    std::vector<std::chrono::milliseconds> sleeps;
    std::deque<std::function<void()>> pendingSleeps;
    int broadcasts = 0;
    std::unique_ptr<ZivraAudio> engine_;
};

} // namespace zivra::audio
