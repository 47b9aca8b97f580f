#include "handoff/TextBroadcaster.h"

#include "handoff/SessionWritability.h"
#include "http/WebSocketSession.h"

#include <algorithm>
#include <chrono>

namespace zivra::handoff {

namespace {

constexpr std::chrono::milliseconds retryInterval{250};

} // namespace

TextBroadcaster::TextBroadcaster(std::function<std::vector<SessionPtr>()> phones, QObject* parent)
    : QObject(parent), phones_(std::move(phones)) {
    writer_.setMaxThreadCount(1);
    retry_.setInterval(retryInterval);
    connect(&retry_, &QTimer::timeout, this,
            [this] { writer_.start([this] { writeOwedState(); }); });
}

TextBroadcaster::~TextBroadcaster() {
    writer_.waitForDone();
}

void TextBroadcaster::sendToAll(std::string text) {
    writer_.start([this, text = std::move(text)] { write(text, false); });
}

void TextBroadcaster::sendState(std::string text) {
    writer_.start([this, text = std::move(text)] { write(text, true); });
}

void TextBroadcaster::write(const std::string& text, bool isState) {
    if (isState) {
        latestState_ = text;
        owed_.clear();
    }
    for (const SessionPtr& phone : phones_()) {
        if (canWriteWithoutWaiting(*phone)) {
            phone->writeText(text);
        } else if (isState) {
            owed_.push_back(phone);
        }
    }
    if (isState) {
        keepRetrying(!owed_.empty());
    }
}

void TextBroadcaster::writeOwedState() {
    const std::vector<SessionPtr> phones = phones_();
    std::erase_if(owed_, [&](const SessionPtr& phone) {
        if (std::find(phones.begin(), phones.end(), phone) == phones.end()) {
            return true;
        }
        if (!canWriteWithoutWaiting(*phone)) {
            return false;
        }
        phone->writeText(latestState_);
        return true;
    });
    keepRetrying(!owed_.empty());
}

void TextBroadcaster::keepRetrying(bool owed) {
    if (owed == retrying_) {
        return;
    }
    retrying_ = owed;
    // The timer belongs to the main thread; dropped when this is gone by then.
    QMetaObject::invokeMethod(
        this, [this, owed] { owed ? retry_.start() : retry_.stop(); }, Qt::QueuedConnection);
}

} // namespace zivra::handoff
