#pragma once

#include "handoff/HandoffServerEnvironment.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QObject;

namespace vuzozar {
class WebSocketSession;
}

namespace zivra::handoff {

// The part of a Handoff that the server's connection threads and the player
// queries reach: the connected phones, the current run's token, and the way
// back to the server object on the main thread. Shared by the server and the
// callbacks of its routes, which hold it weakly. The server object is
// borrowed until detach(); the environment's objects are borrowed as the
// server's are. Nothing here throws but std::bad_alloc.
class HandoffServerCore : public std::enable_shared_from_this<HandoffServerCore> {
public:
    using SessionPtr = std::shared_ptr<vuzozar::WebSocketSession>;

    // What the core has its server do. Each runs on the main thread, through
    // post(), and only while the server exists.
    struct ServerActions {
        std::function<void(const QString& status)> setStatus;
        // Reads the engine and sends the state message to every phone.
        std::function<void()> sendState;
        std::function<void(std::string text)> sendToAll;
    };

    // server: the object whose life bounds the work posted to the main
    // thread.
    HandoffServerCore(QObject* server, HandoffServerEnvironment environment, ServerActions actions);

    // Runs work on the main thread, unless the server is gone by then. Any
    // thread.
    void post(std::function<void()> work);
    // Called by the server's destructor: nothing posted runs afterwards.
    void detach();

    // The connected phones, copied under the lock. Any thread.
    std::vector<SessionPtr> sessions();
    // Starts a run with its token (an empty token: no run); forgets the phones.
    // Main thread, from start() and stop().
    void beginRun(const std::string& token);

    // WebSocket callbacks, on the session's connection thread; a session of
    // an ended run is not recorded and its text is ignored.
    void handleConnected(const std::string& token, const SessionPtr& session);
    void handleDisconnected(const std::string& token, const SessionPtr& session);
    void handleText(const std::string& token, const std::string& text);

    // Asks the players for the track off the main thread and sends it to
    // every phone; nothing while no phone listens. Any thread.
    void broadcastNowPlaying();
    // Sets the server's status line on the main thread. Any thread.
    void updateStatus(const QString& text);
    // Sends the engine's settings to every phone, read on the main thread.
    // Any thread.
    void broadcastState();
    // Tells the engine on the main thread whether a phone listens. Any thread.
    void setHandoffActive(bool active);

    const HandoffServerEnvironment environment;

private:
    bool isCurrentRun(const std::string& token);

    const ServerActions actions_;
    std::mutex serverLock_;
    QObject* server_;
    std::mutex lock_; // guards the run's token and the phones
    std::string runToken_;
    std::vector<SessionPtr> activeSessions_;
};

} // namespace zivra::handoff
