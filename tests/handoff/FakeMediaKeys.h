#pragma once

#include "platform/mediakeys/MediaKeys.h"

#include <QThread>

#include <string>
#include <vector>

namespace zivra::handoff {

// Media keys that record what is posted instead of reaching the desktop.
class FakeMediaKeys final : public zivra::platform::mediakeys::MediaKeys {
public:
    bool trusted = true;
    bool trustedAfterPrompt = false;
    int prompts = 0;
    std::vector<zivra::platform::mediakeys::SystemDefinedEvent> events;
    std::vector<QThread*> postingThreads;
    std::vector<std::string>* journal = nullptr;

    bool isProcessTrusted() override { return trusted; }

    bool isProcessTrustedWithPrompt() override {
        ++prompts;
        trusted = trusted || trustedAfterPrompt;
        return trusted;
    }

    void post(const zivra::platform::mediakeys::SystemDefinedEvent& event) override {
        events.push_back(event);
        postingThreads.push_back(QThread::currentThread());
        if (journal) {
            journal->push_back("key");
        }
    }
};

} // namespace zivra::handoff
