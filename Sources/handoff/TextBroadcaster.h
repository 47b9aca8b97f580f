#pragma once

#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vuzozar {
class WebSocketSession;
}

namespace zivra::handoff {

// Writes text messages to the phones off the main thread, one broadcast after
// another. A phone whose connection is full (it stopped reading) is passed
// over, so that it never holds up the others; one passed over by a state
// message is owed the latest state, and gets it as soon as its connection
// takes writes again (looked at four times a second while any is owed).
//
// Create, call and destroy it on the main thread; the writes run on its own
// thread, and the destructor waits for those queued. The phones function is
// called on that thread for the phones connected at each write. Throws
// nothing but std::bad_alloc.
class TextBroadcaster : public QObject {
    Q_OBJECT

public:
    using SessionPtr = std::shared_ptr<vuzozar::WebSocketSession>;

    explicit TextBroadcaster(std::function<std::vector<SessionPtr>()> phones,
                             QObject* parent = nullptr);
    ~TextBroadcaster() override;

    void sendToAll(std::string text);
    // A state message: the newest one is kept for the phones passed over.
    void sendState(std::string text);

private:
    // The writer thread's: one broadcast, or the state owed.
    void write(const std::string& text, bool isState);
    void writeOwedState();
    void keepRetrying(bool owed);

    const std::function<std::vector<SessionPtr>()> phones_;
    QTimer retry_;
    // The writer thread's own (its tasks run one at a time).
    std::string latestState_;
    std::vector<SessionPtr> owed_;
    bool retrying_ = false;
    QThreadPool writer_; // last: waited for before the fields above go
};

} // namespace zivra::handoff
