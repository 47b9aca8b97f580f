#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

class QProcess;

namespace zivra::handoff {

// The public tunnel of a Handoff: cloudflared's quick tunnel pointed at the
// local server, whose public address replaces the local URL once it prints
// one. The tunnel ends with Zivra, however Zivra ends.
//
// Lives on the main thread: create it there, call it there; its signals come
// there. It owns its cloudflared processes (its children) and ends them when
// destroyed. Nothing here throws but std::bad_alloc.
class HandoffTunnel : public QObject {
    Q_OBJECT

public:
    // searchPaths: where cloudflared is looked for, in order.
    explicit HandoffTunnel(QStringList searchPaths, QObject* parent = nullptr);
    ~HandoffTunnel() override;

    // The first executable file among the search paths; nothing when none is.
    std::optional<QString> executablePath() const;
    // Starts a tunnel to the local port, ending the one running. Returns
    // false, and leaves a running tunnel alone, when cloudflared is not
    // installed.
    bool start(std::uint16_t port);
    // Ends the tunnel: asks cloudflared to stop and kills it 2 s later.
    void stop();
    // Ends every cloudflared still running, this run's and any still ending,
    // waiting for each (at quit: Zivra's quit does not stop a Handoff).
    void endAll();

signals:
    // The tunnel's public address, "https://<name>.trycloudflare.com", once
    // per start.
    void addressFound(const QString& address);
    // cloudflared could not be started; reason in the system's words.
    void failedToStart(const QString& reason);
    // cloudflared ended before it printed an address.
    void endedWithoutAddress();

private:
    void readOutput(QProcess* process);

    const QStringList searchPaths_;
    QProcess* process_ = nullptr;
    bool addressFound_ = false;
};

} // namespace zivra::handoff
