#include "platform/sound/ServerWatch.h"

#include <QMetaObject>
#include <QTimer>

#include <vector>

namespace zivra::platform::sound {

ServerWatch::ServerWatch(std::function<void()> reconnect) : reconnect_(std::move(reconnect)) {}

void ServerWatch::add(ListenerId id, std::function<void(bool)> callback) {
    callbacks_.emplace(id, std::move(callback));
    if (away_) {
        retryLater();
    }
}

bool ServerWatch::remove(ListenerId id) {
    return callbacks_.erase(id) > 0;
}

void ServerWatch::away() {
    if (!away_) {
        away_ = true;
        tell(false);
    }
    retryLater();
}

void ServerWatch::answered() {
    if (away_) {
        away_ = false;
        tell(true);
    }
}

void ServerWatch::caughtUp() {
    if (!away_) {
        tell(true);
    }
}

// Told later, never from inside the call that found out: that call may be
// one the listener itself is making.
void ServerWatch::tell(bool answers) {
    QMetaObject::invokeMethod(
        this,
        [this, answers] {
            std::vector<ListenerId> ids;
            for (const auto& [id, callback] : callbacks_) {
                ids.push_back(id);
            }
            // A callback may remove listeners, so each one is looked up again.
            for (const ListenerId id : ids) {
                const auto found = callbacks_.find(id);
                if (found != callbacks_.end()) {
                    auto callback = found->second;
                    callback(answers);
                }
            }
        },
        Qt::QueuedConnection);
}

void ServerWatch::retryLater() {
    if (retrying_ || callbacks_.empty()) {
        return;
    }
    retrying_ = true;
    QTimer::singleShot(retryInterval, this, [this] {
        retrying_ = false;
        if (away_) {
            reconnect_();
        }
    });
}

} // namespace zivra::platform::sound
