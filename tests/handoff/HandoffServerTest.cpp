// The Handoff's run and its public tunnel, with stand-in cloudflared scripts
// as the tunnel's peer, and its QR codes read back with zbarimg.
#include "handoff/HandoffServer.h"

#include "audio/ZivraAudio.h"
#include "audio/ZivraAudioEnvironment.h"
#include "handoff/HandoffStreamer.h"
#include "handoff/MediaController.h"
#include "tests/audio/FakeSoundServer.h"
#include "tests/handoff/FakeMediaKeys.h"
#include "tests/handoff/FakePlayerScripts.h"
#include "tests/platform/playerscript/PeerProcess.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

namespace zivra::handoff {

using platform::playerscript::eventually;
using platform::playerscript::outputOf;

namespace {

const QString onText = QStringLiteral("Handoff is on. Scan the QR code with your phone.");
const QString tunnelAddress = QStringLiteral("https://quiet-river-42.trycloudflare.com");

class HandoffServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        audio::ZivraAudioEnvironment environment;
        environment.sound = std::make_shared<audio::FakeSoundServer>();
        engine = std::make_unique<audio::ZivraAudio>(std::move(environment));
    }

    // The server goes first: it reports its last changes to the lists below.
    void TearDown() override { server.reset(); }

    // A Handoff whose computer has `address` and whose cloudflared, when
    // given, is a shell script with this body.
    HandoffServer& makeServer(std::optional<QString> address = QStringLiteral("192.0.2.7"),
                              const QString& cloudflared = {}) {
        return makeServer(address, QStringList{dir.filePath("missing/cloudflared"),
                                               cloudflared.isEmpty()
                                                   ? QString()
                                                   : script("#!/bin/sh\necho $$ \"$@\" > " +
                                                            dir.filePath("launched") + "\n" +
                                                            cloudflared + "\n")});
    }

    HandoffServer& makeServer(std::optional<QString> address, const QStringList& paths) {
        HandoffServerEnvironment environment{engine.get(), &streamer, &media,
                                             [address] { return address; }, paths};
        server = std::make_unique<HandoffServer>(environment);
        QObject::connect(server.get(), &HandoffServer::statusChanged,
                         [this](const QString& status) { statuses << status; });
        QObject::connect(server.get(), &HandoffServer::urlStringChanged,
                         [this](const std::optional<QString>& url) { urls.push_back(url); });
        return *server;
    }

    // An executable file "cloudflared" with the text.
    QString script(const QString& text) {
        const QString path = dir.filePath("cloudflared");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        return path;
    }

    // The process id and the arguments the stand-in was started with.
    QStringList launched() const {
        QFile file(dir.filePath("launched"));
        return file.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(file.readAll()).trimmed().split(QLatin1Char(' '))
                   : QStringList{};
    }

    // The text of the server's QR code, as a scanner reads it.
    QString scannedQRCode() {
        const QString path = dir.filePath("qr.png");
        EXPECT_EQ(server->qrImage().size(), QSize(220, 220));
        EXPECT_TRUE(server->qrImage().save(path));
        return outputOf(QStringLiteral("zbarimg"), {"--quiet", "--raw", path});
    }

    QString token() const { return server->urlString().value_or("").section('/', -1); }

    QTemporaryDir dir;
    std::unique_ptr<audio::ZivraAudio> engine;
    HandoffStreamer streamer;
    FakeMediaKeys keys;
    FakePlayerScripts scripts;
    MediaController media{keys, scripts};
    std::unique_ptr<HandoffServer> server;
    QStringList statuses;
    std::vector<std::optional<QString>> urls;
};

TEST_F(HandoffServerTest, ARunPublishesItsURLAndEndsClean) {
    HandoffServer& handoff = makeServer();
    EXPECT_EQ(handoff.status(), "Handoff is off.");
    handoff.start();
    ASSERT_TRUE(handoff.isRunning());
    const QString url = handoff.urlString().value_or("");
    EXPECT_TRUE(url.startsWith("http://192.0.2.7:")) << url.toStdString();
    EXPECT_EQ(token().size(), 36);
    EXPECT_EQ(token(), token().toUpper());
    EXPECT_EQ(scannedQRCode(), url);
    ASSERT_TRUE(eventually([&] { return statuses.size() >= 3; }));
    // Without the tool the tunnel's word comes last and stays.
    EXPECT_EQ(statuses.mid(1),
              (QStringList{onText, "Cloudflare tunnel not installed. Use local Wi-Fi."}));

    const auto seen = statuses.size();
    handoff.start();
    EXPECT_EQ(handoff.urlString(), url);
    QCoreApplication::processEvents();
    EXPECT_EQ(statuses.size(), seen);

    handoff.stop();
    EXPECT_FALSE(handoff.isRunning());
    EXPECT_EQ(handoff.urlString(), std::nullopt);
    EXPECT_TRUE(handoff.qrImage().isNull());
    ASSERT_TRUE(eventually([&] { return statuses.size() > seen; }));
    EXPECT_EQ(handoff.status(), "Handoff is off.");

    handoff.start();
    EXPECT_NE(handoff.urlString(), url);
}

TEST_F(HandoffServerTest, ANetworkWithoutAddressStopsTheRun) {
    HandoffServer& handoff = makeServer(std::nullopt);
    handoff.start();
    EXPECT_FALSE(handoff.isRunning());
    EXPECT_EQ(handoff.urlString(), std::nullopt);
    ASSERT_TRUE(eventually([&] { return statuses.size() >= 2; }));
    EXPECT_EQ(handoff.status(), "Could not find a local network address.");
}

TEST_F(HandoffServerTest, TheTunnelsAddressIsAdoptedOnce) {
    HandoffServer& handoff =
        makeServer(QStringLiteral("192.0.2.7"),
                   "echo 'INF |  " + tunnelAddress + "  |'\nsleep 0.2\n" + "echo 'again " +
                       tunnelAddress.toUpper() + " and " +
                       QString(tunnelAddress).replace("quiet", "other") + "'\nexec sleep 600");
    handoff.start();
    const QString local = handoff.urlString().value_or("");
    const QString port = local.section(':', 2).section('/', 0, 0);
    ASSERT_TRUE(
        eventually([&] { return handoff.status().startsWith("Cloudflare tunnel active"); }));
    EXPECT_EQ(handoff.status(), "Cloudflare tunnel active. Scan from anywhere.");
    EXPECT_EQ(handoff.urlString(), tunnelAddress + "/handoff/" + token());
    EXPECT_EQ(scannedQRCode(), handoff.urlString());
    EXPECT_EQ(launched().mid(1),
              (QStringList{"tunnel", "--url", "http://127.0.0.1:" + port, "--no-autoupdate"}));

    // The second printing, another address, changes nothing.
    QThread::msleep(500);
    QCoreApplication::processEvents();
    EXPECT_EQ(std::count_if(urls.begin(), urls.end(), [](const auto& url) { return url; }), 2);
    EXPECT_EQ(handoff.urlString(), tunnelAddress + "/handoff/" + token());

    // Stopping ends the child.
    const pid_t child = launched().value(0).toInt();
    ASSERT_GT(child, 0);
    handoff.stop();
    EXPECT_TRUE(eventually([&] { return kill(child, 0) != 0; }));
}

TEST_F(HandoffServerTest, ATunnelThatEndsEarlyLeavesTheLocalURL) {
    HandoffServer& handoff = makeServer(QStringLiteral("192.0.2.7"), "echo starting\nexit 1");
    handoff.start();
    const auto local = handoff.urlString();
    ASSERT_TRUE(eventually([&] { return handoff.status().contains("failed"); }));
    EXPECT_EQ(handoff.status(), "Cloudflare tunnel failed. Use local Wi-Fi.");
    EXPECT_EQ(handoff.urlString(), local);
}

TEST_F(HandoffServerTest, AnAdoptedTunnelOutlivesItsChild) {
    HandoffServer& handoff =
        makeServer(QStringLiteral("192.0.2.7"), "echo " + tunnelAddress + "\nsleep 0.3\nexit 0");
    handoff.start();
    ASSERT_TRUE(
        eventually([&] { return handoff.status().startsWith("Cloudflare tunnel active"); }));
    const pid_t child = launched().value(0).toInt();
    ASSERT_TRUE(eventually([&] { return kill(child, 0) != 0; }));
    QThread::msleep(200);
    QCoreApplication::processEvents();
    EXPECT_EQ(handoff.status(), "Cloudflare tunnel active. Scan from anywhere.");
    EXPECT_EQ(handoff.urlString(), tunnelAddress + "/handoff/" + token());
}

TEST_F(HandoffServerTest, AStopWhileWaitingForTheAddressEndsTheChildQuietly) {
    HandoffServer& handoff = makeServer(QStringLiteral("192.0.2.7"), "exec sleep 600");
    handoff.start();
    ASSERT_TRUE(eventually([&] { return launched().size() == 5; }));
    const pid_t child = launched().value(0).toInt();
    handoff.stop();
    ASSERT_TRUE(eventually([&] { return kill(child, 0) != 0; }));
    QThread::msleep(200);
    QCoreApplication::processEvents();
    EXPECT_EQ(handoff.status(), "Handoff is off.");
}

TEST_F(HandoffServerTest, QuittingEndsTheTunnelChild) {
    HandoffServer& handoff = makeServer(QStringLiteral("192.0.2.7"), "exec sleep 600");
    handoff.start();
    ASSERT_TRUE(eventually([&] { return launched().size() == 5; }));
    const pid_t child = launched().value(0).toInt();
    // Zivra's quit leaves the Handoff running, but not its child.
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    EXPECT_NE(kill(child, 0), 0);
    EXPECT_TRUE(handoff.isRunning());
}

TEST_F(HandoffServerTest, ATunnelThatCannotBeLaunchedSaysSo) {
    // Executable, but its interpreter does not exist.
    HandoffServer& handoff = makeServer(QStringLiteral("192.0.2.7"),
                                        QStringList{script("#!/nonexistent/interpreter\n")});
    handoff.start();
    ASSERT_TRUE(eventually([&] { return handoff.status().startsWith("Could not start Cloud"); }));
    EXPECT_TRUE(handoff.status().size() >
                QStringLiteral("Could not start Cloudflare tunnel: ").size());
    EXPECT_TRUE(handoff.isRunning());
}

} // namespace
} // namespace zivra::handoff
