#include "handoff/HandoffTunnel.h"

#include "handoff/Logging.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTimer>

#include <sys/prctl.h>

#include <csignal>
#include <utility>

namespace zivra::handoff {

namespace {

constexpr qint64 readSize = 1024;
constexpr int terminationGraceMs = 2000;

const QRegularExpression& tunnelAddressPattern() {
    static const QRegularExpression pattern(
        QStringLiteral(R"(https://[A-Za-z0-9-]+\.trycloudflare\.com)"));
    return pattern;
}

} // namespace

HandoffTunnel::HandoffTunnel(QStringList searchPaths, QObject* parent)
    : QObject(parent), searchPaths_(std::move(searchPaths)) {}

HandoffTunnel::~HandoffTunnel() {
    endAll();
}

std::optional<QString> HandoffTunnel::executablePath() const {
    for (const QString& path : searchPaths_) {
        const QFileInfo file(path);
        if (file.isFile() && file.isExecutable()) {
            return path;
        }
    }
    return std::nullopt;
}

bool HandoffTunnel::start(std::uint16_t port) {
    const auto path = executablePath();
    if (!path) {
        return false;
    }
    stop();
    auto* process = new QProcess(this);
    process->setProgram(*path);
    process->setArguments({QStringLiteral("tunnel"), QStringLiteral("--url"),
                           QStringLiteral("http://127.0.0.1:%1").arg(port),
                           QStringLiteral("--no-autoupdate")});
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process_ = process;
    addressFound_ = false;
    connect(process, &QProcess::readyRead, this, [this, process] { readOutput(process); });
    connect(process, &QProcess::finished, this, [this, process] {
        // Queued, as an address read just before is.
        QMetaObject::invokeMethod(
            this,
            [this, process] {
                if (process != process_ || addressFound_) {
                    return;
                }
                qCWarning(handoffLog) << "cloudflared ended without an address";
                emit endedWithoutAddress();
            },
            Qt::QueuedConnection);
    });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && process == process_) {
            qCWarning(handoffLog) << "cloudflared did not start:" << process->errorString();
            emit failedToStart(process->errorString());
        }
    });
    process->start();
    return true;
}

void HandoffTunnel::readOutput(QProcess* process) {
    // Each read is searched on its own: an address split between two reads
    // is not found, and a read that is not UTF-8 is skipped.
    while (process->bytesAvailable() > 0) {
        const QByteArray chunk = process->read(readSize);
        if (chunk.isEmpty()) {
            return;
        }
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = decoder(chunk);
        if (decoder.hasError()) {
            continue;
        }
        const QRegularExpressionMatch match = tunnelAddressPattern().match(text);
        if (!match.hasMatch()) {
            continue;
        }
        QMetaObject::invokeMethod(
            this,
            [this, process, address = match.captured()] {
                if (process != process_ || addressFound_) {
                    return;
                }
                addressFound_ = true;
                qCInfo(handoffLog) << "Cloudflare tunnel at" << address;
                emit addressFound(address);
            },
            Qt::QueuedConnection);
    }
}

void HandoffTunnel::stop() {
    QProcess* process = std::exchange(process_, nullptr);
    addressFound_ = false;
    if (!process) {
        return;
    }
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->terminate();
    // A tunnel that ignores the request is ended anyway.
    QTimer::singleShot(terminationGraceMs, process, [process] { process->kill(); });
}

void HandoffTunnel::endAll() {
    for (QProcess* process : findChildren<QProcess*>()) {
        if (process->state() == QProcess::NotRunning) {
            continue;
        }
        process->terminate();
        if (!process->waitForFinished(terminationGraceMs)) {
            process->kill();
            process->waitForFinished();
        }
    }
}

} // namespace zivra::handoff
