#pragma once

#include "handoff/HandoffServerEnvironment.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QTimer;

namespace vuzozar {
class HttpServer;
}

namespace zivra::handoff {

class HandoffServerCore;
class HandoffTunnel;
class TextBroadcaster;

// Turns a phone into a remote listener and remote control. start() serves
// the phone page at "/handoff/<token>" and the WebSocket at
// "/handoff/<token>/stream" on an ephemeral port of every IPv4 interface
// (loopback included), with a fresh random token per run; it publishes the
// page's URL and a QR code of it, asks the players for the track every
// 2 s while a phone listens, and opens a public tunnel when cloudflared is
// installed. Each connected phone gets the engine's settings and the track;
// the newest one gets the audio; while any listens the computer's own output
// is silent; any phone's commands are obeyed.
//
// Lives on the main thread: create it there, and call start(), stop() and
// the getters there. Every property announces each assignment, also of an
// equal value. Nothing here throws.
class HandoffServer : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(std::optional<QString> urlString READ urlString NOTIFY urlStringChanged)
    Q_PROPERTY(QImage qrImage READ qrImage NOTIFY qrImageChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)

public:
    // Where cloudflared is looked for, in order.
    static const QStringList defaultCloudflaredSearchPaths;

    // The one Handoff over HandoffServerEnvironment::system(), created on first use (on
    // the main thread) and kept for the life of the process. In the library
    // zivra_handoff_system.
    static HandoffServer& shared();

    explicit HandoffServer(HandoffServerEnvironment environment, QObject* parent = nullptr);
    // Stops a run and ends a tunnel child.
    ~HandoffServer() override;

    // The server is serving; written only by start() and stop().
    bool isRunning() const { return isRunning_; }
    // The URL shown and encoded in the QR code: the local page URL after a
    // start, the tunnel's once one is adopted, nothing when off.
    const std::optional<QString>& urlString() const { return urlString_; }
    // The QR code of urlString, 220 × 220; null when off.
    const QImage& qrImage() const { return qrImage_; }
    // One line for the panel: "Handoff is off.", "Phone connected.", ...
    const QString& status() const { return status_; }

    // Does nothing while running; otherwise starts a new run (after a full
    // stop()), or sets a status saying why it could not.
    void start();
    // Ends the run: timer, tunnel, server and its connections, streaming;
    // unmutes the computer; status "Handoff is off.".
    void stop();
    // Sends the engine's pitch and vocal settings to every connected phone.
    // Any thread; the engine is read on the main thread.
    void broadcastState();

signals:
    void isRunningChanged(bool value);
    void urlStringChanged(const std::optional<QString>& value);
    void qrImageChanged(const QImage& value);
    void statusChanged(const QString& value);

private:
    void setIsRunning(bool value);
    void setUrlString(const std::optional<QString>& value);
    void setQrImage(const QImage& value);
    void setStatus(const QString& value);
    void showUrl(const QString& url);

    void setupRoutes();
    void startMetadataTimer();
    // Reads the engine and sends the state message; main thread.
    void sendState();

    HandoffServerEnvironment environment_;
    bool isRunning_ = false;
    std::optional<QString> urlString_;
    QImage qrImage_;
    QString status_;
    std::shared_ptr<vuzozar::HttpServer> server_;
    QString token_;
    std::shared_ptr<HandoffServerCore> core_;
    QTimer* metadataTimer_ = nullptr;
    HandoffTunnel* tunnel_;
    // Writes text messages to the phones one broadcast after another, off
    // the main thread; a phone that is not reading is passed over, and gets
    // the state it missed once it reads again.
    std::unique_ptr<TextBroadcaster> texts_;
};

} // namespace zivra::handoff
