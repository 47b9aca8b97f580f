#pragma once

#include "platform/sound/SoundServer.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <map>

namespace zivra::platform::sound {

// Whether the sound server answers, for those who wait for it: they are told
// when it stops answering and when it answers again, and while it is away and
// someone waits, a new connection is tried every retryInterval. Main thread
// only; owned by the sound server client, whose reconnect function it calls
// (and which it must not outlive). Throws nothing but std::bad_alloc.
class ServerWatch : public QObject {
public:
    static constexpr std::chrono::milliseconds retryInterval{250};

    // reconnect tries a new connection; it reports the outcome through away()
    // or answered().
    explicit ServerWatch(std::function<void()> reconnect);

    // Adds or removes one who waits (see SoundServer::addServerListener).
    void add(ListenerId id, std::function<void(bool answers)> callback);
    bool remove(ListenerId id);

    // The connection was lost, or a new one could not be made; answered(): a
    // new one was made. Those who wait hear of a change, in a task of its own.
    void away();
    void answered();
    // The server answered again after a wait on the connection ran out: it
    // was slow or stopped, not gone. Those who wait hear that it answers, so
    // that what it could not be asked meanwhile is asked now.
    void caughtUp();
    bool isAway() const { return away_; }

private:
    void tell(bool answers);
    void retryLater();

    std::function<void()> reconnect_;
    std::map<ListenerId, std::function<void(bool)>> callbacks_;
    bool away_ = false;
    bool retrying_ = false;
};

} // namespace zivra::platform::sound
