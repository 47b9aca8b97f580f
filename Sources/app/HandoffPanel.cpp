#include "app/HandoffPanel.h"

#include "app/ElidedLabel.h"
#include "app/PanelButton.h"
#include "app/PanelPieces.h"
#include "app/QRCodeView.h"
#include "app/Style.h"
#include "handoff/HandoffServer.h"

#include <QFontDatabase>
#include <QLabel>
#include <QVBoxLayout>

namespace zivra::app {
namespace {

QLabel* statusText(qreal points, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFont(systemFont(points));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    setTextColor(label, secondaryTextColor());
    return label;
}

QFont monospacedFont(qreal points) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(qRound(points));
    return font;
}

} // namespace

HandoffPanel::HandoffPanel(handoff::HandoffServer& server, std::function<void()> back,
                           QWidget* parent)
    : SidePanelFrame(16, parent), server_(server), running_(new QWidget(this)),
      qrCode_(new QRCodeView(qrPoints, qrCornerRadius, running_)),
      runningStatus_(statusText(12, running_)), url_(new ElidedLabel(running_)),
      off_(new QWidget(this)), offStatus_(statusText(13, off_)),
      button_(new PanelButton(QStringLiteral("Start Handoff"), zivraTeal(), this)) {
    column()->addWidget(panelHeader(QStringLiteral("Handoff"), std::move(back), this));

    auto* running = new QVBoxLayout(running_);
    running->setContentsMargins(0, 0, 0, 0);
    running->setSpacing(12);
    running->addWidget(qrCode_, 0, Qt::AlignHCenter);
    running->addWidget(runningStatus_);
    url_->setFont(monospacedFont(11));
    setTextColor(url_, secondaryTextColor());
    running->addWidget(url_);

    auto* off = new QVBoxLayout(off_);
    off->setContentsMargins(0, 0, 0, 0);
    off->setSpacing(8);
    // Full width, so that a long failure text wraps across the panel, and centred in the area.
    off->addStretch(1);
    off->addWidget(offStatus_);
    off->addStretch(1);
    off_->setMinimumHeight(offContentHeight);

    // One of the two shows at a time; the hidden one takes no room.
    column()->addWidget(running_);
    column()->addWidget(off_);
    column()->addWidget(button_);

    connect(button_, &PanelButton::clicked, this, [this] {
        if (server_.isRunning()) {
            server_.stop();
        } else {
            server_.start();
        }
    });
    connect(&server_, &handoff::HandoffServer::isRunningChanged, this, &HandoffPanel::refresh);
    connect(&server_, &handoff::HandoffServer::qrImageChanged, this, &HandoffPanel::refresh);
    connect(&server_, &handoff::HandoffServer::urlStringChanged, this, &HandoffPanel::refresh);
    connect(&server_, &handoff::HandoffServer::statusChanged, this, &HandoffPanel::refresh);
    refresh();
}

bool HandoffPanel::showsQRCode() const {
    return !running_->isHidden();
}

QLabel* HandoffPanel::statusLabel() const {
    return showsQRCode() ? runningStatus_ : offStatus_;
}

void HandoffPanel::refresh() {
    const bool running = server_.isRunning();
    const QImage& qrImage = server_.qrImage();
    const std::optional<QString>& url = server_.urlString();
    if (running && !qrImage.isNull()) {
        qrCode_->setImage(qrImage);
        runningStatus_->setText(server_.status());
        url_->setVisible(url.has_value());
        url_->setText(url.value_or(QString()));
        off_->hide();
        running_->show();
    } else {
        qrCode_->setImage(QImage());
        offStatus_->setText(server_.status());
        running_->hide();
        off_->show();
    }
    button_->setTitle(running ? QStringLiteral("Stop Handoff") : QStringLiteral("Start Handoff"));
    updateGeometry();
}

} // namespace zivra::app
