#pragma once

#include <QObject>

class QSocketNotifier;

namespace zivra::app {

// Turns SIGTERM, SIGINT and SIGHUP into an orderly quit of the application, so that the
// engine's cleanup runs (and the streams it captured go back to their device) also when the
// session ends or the process is stopped. One per process, created and destroyed on the main
// thread (the destructor restores the default actions); throws nothing but std::bad_alloc.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace zivra::app
