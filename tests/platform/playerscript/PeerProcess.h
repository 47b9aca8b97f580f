#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

namespace zivra::platform::playerscript {

// A program the test starts as a peer and stops when it goes out of scope.
class PeerProcess {
public:
    PeerProcess(const QString& program, const QStringList& arguments) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(program, arguments);
        started_ = process_.waitForStarted();
        EXPECT_TRUE(started_) << program.toStdString() << ": "
                              << process_.errorString().toStdString();
    }

    ~PeerProcess() { stop(); }

    void stop() {
        if (started_ && process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(10000)) {
                process_.kill();
                process_.waitForFinished();
            }
        }
    }

private:
    QProcess process_;
    bool started_ = false;
};

// Waits for a condition that peers bring about on their own time; false when it never holds.
template <typename Condition> bool eventually(Condition condition) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (condition()) {
            return true;
        }
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    return condition();
}

// The trimmed output of a program that the test runs to cross-check.
inline QString outputOf(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

} // namespace zivra::platform::playerscript
