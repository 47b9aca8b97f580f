#include "app/HandoffPanel.h"
#include "tests/app/AppTestSupport.h"
#include "tests/handoff/FakeMediaKeys.h"
#include "tests/handoff/FakePlayerScripts.h"

#include "app/ElidedLabel.h"
#include "app/MenuView.h"
#include "app/PanelButton.h"
#include "app/QRCodeView.h"
#include "handoff/HandoffServer.h"
#include "handoff/HandoffStreamer.h"
#include "handoff/MediaController.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include <sys/resource.h>
#include <unistd.h>

#include <optional>

namespace zivra::app {
namespace {

// What zbarimg reads from the code as the view draws it.
QString decodedQRCode(QRCodeView& view) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("code.png"));
    // A white margin as a phone's camera sees around the code.
    QImage image(view.size() + QSize(40, 40), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.drawPixmap(20, 20, view.grab());
    painter.end();
    image.save(path);
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), path});
    zbar.waitForFinished();
    return QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
}

// A Handoff over the test engine that serves on loopback, or that finds no address when
// `address` is empty.
class HandoffPanelTest : public AppTest {
protected:
    std::optional<QString> address = QStringLiteral("127.0.0.1");

    handoff::HandoffServer& server() {
        if (!server_) {
            handoff::HandoffServerEnvironment environment;
            environment.audio = &engine();
            environment.streamer = &streamer_;
            environment.media = &media_;
            environment.localAddress = [this] { return address; };
            server_ = std::make_unique<handoff::HandoffServer>(environment);
        }
        return *server_;
    }

    HandoffPanel& panel() {
        if (!panel_) {
            panel_ = std::make_unique<HandoffPanel>(server(), [this] { ++backs; });
            panel_->setFixedWidth(MenuView::panelWidth);
            panel_->show();
        }
        return *panel_;
    }

    void TearDown() override {
        panel_.reset();
        if (server_) {
            server_->stop();
        }
    }

    int backs = 0;

private:
    handoff::FakeMediaKeys keys_;
    handoff::FakePlayerScripts scripts_;
    handoff::MediaController media_{keys_, scripts_};
    handoff::HandoffStreamer streamer_;
    std::unique_ptr<handoff::HandoffServer> server_;
    std::unique_ptr<HandoffPanel> panel_;
};

TEST_F(HandoffPanelTest, BeforeTheFirstStartTheStatusFillsTheOffArea) {
    HandoffPanel& view = panel();
    EXPECT_FALSE(view.showsQRCode());
    EXPECT_EQ(view.statusLabel()->text(), "Handoff is off.");
    EXPECT_TRUE(view.statusLabel()->isVisible());
    EXPECT_GE(view.statusLabel()->parentWidget()->height(), HandoffPanel::offContentHeight);
    EXPECT_EQ(view.mainButton()->title(), "Start Handoff");
    EXPECT_FALSE(view.qrCode()->isVisible());

    click(view.findChild<QPushButton*>(QStringLiteral("backButton")));
    EXPECT_EQ(backs, 1);
}

TEST_F(HandoffPanelTest, StartShowsTheCodeOfTheShownAddressAndStopTakesItAway) {
    HandoffPanel& view = panel();
    click(view.mainButton());
    ASSERT_TRUE(server().isRunning());
    // The status goes through the main loop; without a tunnel tool the tunnel's word is last.
    ASSERT_TRUE(eventually([&] { return view.statusLabel()->text() != "Handoff is off."; }));
    EXPECT_TRUE(eventually([&] { return view.statusLabel()->text() == server().status(); }));
    EXPECT_TRUE(view.showsQRCode());
    EXPECT_EQ(view.mainButton()->title(), "Stop Handoff");
    EXPECT_TRUE(view.qrCode()->isVisible());
    EXPECT_EQ(view.qrCode()->size(), QSize(180, 180));
    EXPECT_EQ(view.qrCode()->image(), server().qrImage());
    ASSERT_TRUE(server().urlString().has_value());
    EXPECT_TRUE(server().urlString()->startsWith("http://127.0.0.1:"));
    EXPECT_EQ(view.urlLabel()->text(), *server().urlString());
    EXPECT_TRUE(view.urlLabel()->isVisible());
    // What is drawn, not the font's metadata: fontconfig lists Noto Sans Mono, a common
    // "monospace", without the monospace spacing although every glyph has one width.
    const QFontMetricsF metrics(view.urlLabel()->font());
    for (const QChar glyph : QStringLiteral("iM0:/.W1")) {
        EXPECT_EQ(metrics.horizontalAdvance(glyph), metrics.horizontalAdvance(QLatin1Char('n')))
            << "the address is drawn at one width; '" << glyph.toLatin1() << "' is not";
    }
    EXPECT_EQ(decodedQRCode(*view.qrCode()), view.urlLabel()->text());

    click(view.mainButton());
    EXPECT_FALSE(server().isRunning());
    // The code goes at once; the status follows through the main loop.
    EXPECT_FALSE(view.showsQRCode());
    EXPECT_FALSE(view.qrCode()->isVisible());
    EXPECT_TRUE(view.qrCode()->image().isNull());
    EXPECT_TRUE(eventually([&] { return view.statusLabel()->text() == "Handoff is off."; }));
    EXPECT_EQ(view.mainButton()->title(), "Start Handoff");
}

TEST_F(HandoffPanelTest, AFailedStartShowsWhyAndOffersStartAgain) {
    address.reset();
    HandoffPanel& view = panel();
    click(view.mainButton());
    EXPECT_TRUE(eventually(
        [&] { return view.statusLabel()->text() == "Could not find a local network address."; }));
    EXPECT_FALSE(server().isRunning());
    EXPECT_FALSE(view.showsQRCode());
    EXPECT_EQ(view.mainButton()->title(), "Start Handoff");
}

TEST_F(HandoffPanelTest, AServerThatCannotListenShowsTheReason) {
    HandoffPanel& view = panel();
    // With no descriptor left to open (the limit at the lowest free one), the server's socket
    // cannot be made.
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const int lowestFree = dup(0);
    ASSERT_GE(lowestFree, 0);
    close(lowestFree);
    const rlimit none{static_cast<rlim_t>(lowestFree), limit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    click(view.mainButton());
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    EXPECT_TRUE(eventually([&] {
        return view.statusLabel()->text().startsWith("Could not start server: ");
    })) << view.statusLabel()->text().toStdString();
    EXPECT_FALSE(server().isRunning());
    EXPECT_FALSE(view.showsQRCode());
    EXPECT_EQ(view.mainButton()->title(), "Start Handoff");
}

TEST_F(HandoffPanelTest, ALongAddressStaysOnOneLineShortenedInTheMiddle) {
    ElidedLabel label;
    const QString url =
        QStringLiteral("https://a-rather-long-quick-tunnel-name-for-a-phone-to-join"
                       ".trycloudflare.com/handoff/3F2504E0-4F89-11D3-9A0C-0305E82C3301");
    label.setText(url);
    label.setFixedWidth(200);
    const QString shown = label.shownText();
    EXPECT_TRUE(shown.startsWith("https://")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("3301")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_LE(label.fontMetrics().horizontalAdvance(shown), 200);
    EXPECT_EQ(label.text(), url);
    EXPECT_EQ(label.sizeHint().height(), label.fontMetrics().height());
}

TEST_F(HandoffPanelTest, HandoffToPhoneOpensThePanelAndBackLeavesTheHandoffRunning) {
    MenuView view(engine());
    view.handoffServer = [this]() -> handoff::HandoffServer& { return server(); };
    view.resize(view.sizeHint());
    view.show();
    EXPECT_EQ(view.handoffPanel(), nullptr);

    QAction* item =
        menuAction(view.audioSourceButton()->menu(), QStringLiteral("Handoff to phone…"));
    ASSERT_NE(item, nullptr);
    item->trigger();
    ASSERT_NE(view.handoffPanel(), nullptr);
    EXPECT_TRUE(view.isShowing(MenuView::Panel::handoff));
    HandoffPanel& panel = *view.handoffPanel();
    EXPECT_TRUE(eventually([&] { return panel.isVisible() && panel.x() == 0; }));

    click(panel.mainButton());
    ASSERT_TRUE(server().isRunning());
    click(panel.findChild<QPushButton*>(QStringLiteral("backButton")));
    EXPECT_FALSE(view.isShowing(MenuView::Panel::handoff));
    EXPECT_TRUE(eventually([&] { return panel.isHidden(); }));
    EXPECT_TRUE(server().isRunning());

    // Opening it again shows the same panel, still running.
    item->trigger();
    EXPECT_EQ(view.handoffPanel(), &panel);
    EXPECT_TRUE(panel.showsQRCode());
}

} // namespace
} // namespace zivra::app
