#pragma once

#include "handoff/HandoffServer.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vuzozar {
class WebSocketSession;
}

namespace zivra::handoff {

// The part of a Handoff that the server's connection threads and the player
// queries reach: the connected phones, the current run's token, and the way
// back to the server object on the main thread. Shared by the server and the
// callbacks of its routes, which hold it weakly. The owner pointer is the
// server's own and is cleared by detach(); the environment's objects are
// borrowed as the server's are. Nothing here throws but std::bad_alloc.
struct HandoffServer::Core : std::enable_shared_from_this<HandoffServer::Core> {
    using SessionPtr = std::shared_ptr<vuzozar::WebSocketSession>;

    Core(HandoffServer* owner, HandoffServerEnvironment environment);

    // Runs work on the main thread with the server object, unless the server
    // is gone by then. Any thread.
    void post(std::function<void(HandoffServer&)> work);
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

    const HandoffServerEnvironment environment;

private:
    bool isCurrentRun(const std::string& token);

    std::mutex ownerLock_;
    HandoffServer* owner_;
    std::mutex lock_; // guards the run's token and the phones
    std::string runToken_;
    std::vector<SessionPtr> activeSessions_;
};

} // namespace zivra::handoff
