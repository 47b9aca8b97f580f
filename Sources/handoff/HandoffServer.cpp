#include "handoff/HandoffServer.h"

#include "audio/ZivraAudio.h"
#include "handoff/HandoffMessages.h"
#include "handoff/HandoffPage.h"
#include "handoff/HandoffServerCore.h"
#include "handoff/HandoffStreamer.h"
#include "handoff/HandoffTunnel.h"
#include "handoff/Logging.h"
#include "handoff/QRCode.h"
#include "handoff/TextBroadcaster.h"
#include "http/HttpServer.h"
#include "http/WebSocket.h"

#include <QCoreApplication>
#include <QTimer>
#include <QUuid>

namespace zivra::handoff {

namespace {

constexpr int qrCodeSize = 220;
constexpr std::chrono::milliseconds metadataInterval{2000};
const QString offText = QStringLiteral("Handoff is off.");
// No route takes a body; anything longer is refused before it is read.
constexpr int64_t maxBodyLength = int64_t(64) << 10;
// One address may not take every place: a phone on the network still gets
// in. Through the tunnel every phone comes from the tunnel's local address,
// so this leaves room for several (a page and its stream each).
constexpr size_t maxConnectionsPerPeer = 32;

// The phone page with the token wherever "@@TOKEN@@" stands.
std::string pageFor(const std::string& token) {
    static constexpr std::string_view placeholder = "@@TOKEN@@";
    std::string page(handoffPageHTML);
    for (auto at = page.find(placeholder); at != std::string::npos;
         at = page.find(placeholder, at + token.size())) {
        page.replace(at, placeholder.size(), token);
    }
    return page;
}

bool hasToken(const vuzozar::HttpRequest& request, const std::string& token) {
    const auto param = request.params.find(":token");
    return param != request.params.end() && param->second == token;
}

} // namespace

const QStringList HandoffServer::defaultCloudflaredSearchPaths = {
    QStringLiteral("/opt/homebrew/bin/cloudflared"),
    QStringLiteral("/usr/local/bin/cloudflared"),
    QStringLiteral("/usr/bin/cloudflared"),
};

HandoffServer::HandoffServer(HandoffServerEnvironment environment, QObject* parent)
    : QObject(parent), environment_(std::move(environment)), status_(offText),
      server_(std::make_shared<vuzozar::HttpServer>()),
      core_(std::make_shared<HandoffServerCore>(
          this, environment_,
          HandoffServerCore::ServerActions{
              [this](const QString& text) { setStatus(text); }, [this] { sendState(); },
              [this](std::string text) { texts_->sendToAll(std::move(text)); }})),
      tunnel_(new HandoffTunnel(environment_.cloudflaredSearchPaths, this)),
      texts_(std::make_unique<TextBroadcaster>([core = core_] { return core->sessions(); })) {
    if (QCoreApplication* application = QCoreApplication::instance()) {
        connect(application, &QCoreApplication::aboutToQuit, tunnel_, &HandoffTunnel::endAll);
    }
    connect(tunnel_, &HandoffTunnel::addressFound, this, [this](const QString& address) {
        if (!isRunning_) {
            return;
        }
        showUrl(address + QStringLiteral("/handoff/") + token_);
        core_->updateStatus(QStringLiteral("Cloudflare tunnel active. Scan from anywhere."));
    });
    connect(tunnel_, &HandoffTunnel::failedToStart, this, [this](const QString& reason) {
        core_->updateStatus(QStringLiteral("Could not start Cloudflare tunnel: ") + reason);
    });
    connect(tunnel_, &HandoffTunnel::endedWithoutAddress, this, [this] {
        if (isRunning_) {
            core_->updateStatus(QStringLiteral("Cloudflare tunnel failed. Use local Wi-Fi."));
        }
    });
}

HandoffServer::~HandoffServer() {
    stop();
    tunnel_->endAll();
    core_->detach();
    texts_.reset();
}

void HandoffServer::setIsRunning(bool value) {
    isRunning_ = value;
    emit isRunningChanged(value);
}

void HandoffServer::setUrlString(const std::optional<QString>& value) {
    urlString_ = value;
    emit urlStringChanged(value);
}

void HandoffServer::setQrImage(const QImage& value) {
    qrImage_ = value;
    emit qrImageChanged(value);
}

void HandoffServer::setStatus(const QString& value) {
    status_ = value;
    emit statusChanged(value);
}

void HandoffServer::showUrl(const QString& url) {
    setUrlString(url);
    setQrImage(generateQRCode(url, qrCodeSize));
}

void HandoffServer::start() {
    if (isRunning_) {
        return;
    }
    stop();
    token_ = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    server_ = std::make_shared<vuzozar::HttpServer>();
    server_->setMaxBodyLength(maxBodyLength);
    server_->setMaxConnectionsPerPeer(maxConnectionsPerPeer);
    core_->beginRun(token_.toStdString());
    setupRoutes();
    std::uint16_t port = 0;
    try {
        server_->start(0, true, vuzozar::Priority::background);
        port = static_cast<std::uint16_t>(server_->port());
    } catch (const std::exception& error) {
        qCWarning(handoffLog) << "The Handoff server did not start:" << error.what();
        core_->updateStatus(QStringLiteral("Could not start server: ") +
                            QString::fromStdString(error.what()));
        return;
    }
    const auto address = environment_.localAddress();
    if (!address) {
        stop();
        core_->updateStatus(QStringLiteral("Could not find a local network address."));
        return;
    }
    showUrl(QStringLiteral("http://%1:%2/handoff/%3").arg(*address).arg(port).arg(token_));
    setIsRunning(true);
    qCInfo(handoffLog) << "Handoff serves on port" << port;
    core_->updateStatus(QStringLiteral("Handoff is on. Scan the QR code with your phone."));
    startMetadataTimer();
    if (!tunnel_->start(port)) {
        core_->updateStatus(QStringLiteral("Cloudflare tunnel not installed. Use local Wi-Fi."));
    }
}

void HandoffServer::stop() {
    if (metadataTimer_) {
        metadataTimer_->stop();
        metadataTimer_->deleteLater();
        metadataTimer_ = nullptr;
    }
    tunnel_->stop();
    server_->stop();
    // The phones' connections end with the server; their callbacks belong to
    // a finished run from here on.
    core_->beginRun({});
    environment_.streamer->stop();
    core_->setHandoffActive(false);
    setUrlString(std::nullopt);
    setQrImage(QImage());
    setIsRunning(false);
    core_->updateStatus(offText);
}

void HandoffServer::setupRoutes() {
    const std::string token = token_.toStdString();
    const std::weak_ptr<HandoffServerCore> weakCore = core_;
    auto page = [weakCore, token](const vuzozar::HttpRequestPtr& request) {
        if (weakCore.expired() || !hasToken(*request, token)) {
            return vuzozar::HttpResponse::notFound();
        }
        return vuzozar::HttpResponse::ok(vuzozar::HttpResponseBody::html(pageFor(token)));
    };
    auto stream = vuzozar::websocket(
        [weakCore, token](const auto&, const std::string& text) {
            if (const auto core = weakCore.lock()) {
                core->handleText(token, text);
            }
        },
        nullptr, nullptr,
        [weakCore, token](const auto& session) {
            if (const auto core = weakCore.lock()) {
                core->handleConnected(token, session);
            }
        },
        [weakCore, token](const auto& session) {
            if (const auto core = weakCore.lock()) {
                core->handleDisconnected(token, session);
            }
        });
    (*server_)["/handoff/:token"] = std::move(page);
    (*server_)["/handoff/:token/stream"] =
        [weakCore, token, stream = std::move(stream)](const vuzozar::HttpRequestPtr& request) {
            if (weakCore.expired() || !hasToken(*request, token)) {
                return vuzozar::HttpResponse::notFound();
            }
            return stream(request);
        };
}

void HandoffServer::startMetadataTimer() {
    if (metadataTimer_) {
        metadataTimer_->stop();
        metadataTimer_->deleteLater();
    }
    metadataTimer_ = new QTimer(this);
    metadataTimer_->setInterval(metadataInterval);
    connect(metadataTimer_, &QTimer::timeout, this, [this] { core_->broadcastNowPlaying(); });
    metadataTimer_->start();
}

void HandoffServer::broadcastState() {
    core_->broadcastState();
}

void HandoffServer::sendState() {
    const audio::ZivraAudio& audio = *environment_.audio;
    auto text = stateMessage({audio.pitchEnabled(), audio.pitchCents(), audio.removeVocalsEnabled(),
                              audio.vocalRemovalMode()});
    if (text) {
        texts_->sendState(std::move(*text));
    }
}

} // namespace zivra::handoff
