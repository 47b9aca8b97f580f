// The public tunnel of a Handoff: cloudflared's quick tunnel pointed at the
// local server, whose public address replaces the local URL once it prints
// one.
#include "handoff/HandoffServer.h"

#include "handoff/HandoffServerCore.h"
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

std::optional<QString> HandoffServer::cloudflaredExecutablePath() const {
    for (const QString& path : environment_.cloudflaredSearchPaths) {
        const QFileInfo file(path);
        if (file.isFile() && file.isExecutable()) {
            return path;
        }
    }
    return std::nullopt;
}

void HandoffServer::startCloudflaredProxy(std::uint16_t port) {
    const auto path = cloudflaredExecutablePath();
    if (!path) {
        core_->updateStatus(QStringLiteral("Cloudflare tunnel not installed. Use local Wi-Fi."));
        return;
    }
    stopCloudflaredProxy();
    auto* process = new QProcess(this);
    process->setProgram(*path);
    process->setArguments({QStringLiteral("tunnel"), QStringLiteral("--url"),
                           QStringLiteral("http://127.0.0.1:%1").arg(port),
                           QStringLiteral("--no-autoupdate")});
    process->setProcessChannelMode(QProcess::MergedChannels);
    // The tunnel ends with Zivra, however Zivra ends.
    process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    cloudflaredProcess_ = process;
    cloudflaredURLFound_ = false;
    connect(process, &QProcess::readyRead, this,
            [this, process] { readCloudflaredOutput(process); });
    connect(process, &QProcess::finished, this, [this, process] { cloudflaredEnded(process); });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && process == cloudflaredProcess_) {
            qCWarning(handoffLog) << "cloudflared did not start:" << process->errorString();
            core_->updateStatus(QStringLiteral("Could not start Cloudflare tunnel: ") +
                                process->errorString());
        }
    });
    process->start();
}

void HandoffServer::readCloudflaredOutput(QProcess* process) {
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
        core_->post([process, address = match.captured()](HandoffServer& server) {
            if (process != server.cloudflaredProcess_ || !server.isRunning_ ||
                server.cloudflaredURLFound_) {
                return;
            }
            server.cloudflaredURLFound_ = true;
            server.showUrl(address + QStringLiteral("/handoff/") + server.token_);
            qCInfo(handoffLog) << "Cloudflare tunnel at" << address;
            server.core_->updateStatus(
                QStringLiteral("Cloudflare tunnel active. Scan from anywhere."));
        });
    }
}

void HandoffServer::cloudflaredEnded(QProcess* process) {
    core_->post([process](HandoffServer& server) {
        if (process != server.cloudflaredProcess_ || !server.isRunning_ ||
            server.cloudflaredURLFound_) {
            return;
        }
        qCWarning(handoffLog) << "cloudflared ended without an address";
        server.core_->updateStatus(QStringLiteral("Cloudflare tunnel failed. Use local Wi-Fi."));
    });
}

void HandoffServer::stopCloudflaredProxy() {
    QProcess* process = std::exchange(cloudflaredProcess_, nullptr);
    if (!process) {
        return;
    }
    cloudflaredURLFound_ = false;
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->terminate();
    // A tunnel that ignores the request is ended anyway.
    QTimer::singleShot(terminationGraceMs, process, [process] { process->kill(); });
}

void HandoffServer::endCloudflaredAtQuit() {
    // Zivra's quit does not stop a Handoff, but a tunnel child must not
    // outlive it: this one and any still ending.
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
