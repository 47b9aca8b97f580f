#pragma once

#include <QObject>
#include <QString>

namespace zivra::platform::instance {

// One Zivra per user session, kept through the session bus: the first start
// owns a well-known name there and answers a request to show itself; a later
// start finds the name taken, sends that request and ends, never touching
// sound. Main thread only; owned by main(); throws nothing but std::bad_alloc.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        first,   // this process owns the name and answers requests
        running, // another Zivra owns it: hand over with activateRunning()
        noBus,   // the session bus cannot be asked (error() says why)
    };

    explicit SingleInstance(QObject* parent = nullptr);

    // Tries to become the session's Zivra. Blocks until the bus has answered.
    Claim claim();
    // Asks the Zivra that owns the name to show itself and waits for its
    // answer. Empty when it answered, else the bus's words for why not.
    QString activateRunning();
    // Gives the name up, so that a start while this one quits is a start of
    // its own rather than a request nobody will answer.
    void release();
    // Why the last claim could not ask the bus.
    QString error() const { return error_; }

signals:
    // A later start asked this one to show itself.
    void activationRequested();

private:
    QString error_;
};

} // namespace zivra::platform::instance
