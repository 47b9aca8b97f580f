#include "app/HandoffPanel.h"

#include "app/ElidedLabel.h"
#include "app/PanelButton.h"
#include "app/PanelPieces.h"
#include "app/QRCodeView.h"
#include "app/Style.h"
#include "handoff/HandoffServer.h"

#include <QFontDatabase>
#include <QLabel>
#include <QStackedWidget>
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

// A stack page as tall as its own content, not as the tallest page.
class ContentStack : public QStackedWidget {
public:
    using QStackedWidget::QStackedWidget;
    QSize sizeHint() const override { return currentWidget()->sizeHint(); }
    QSize minimumSizeHint() const override { return currentWidget()->minimumSizeHint(); }
};

} // namespace

HandoffPanel::HandoffPanel(handoff::HandoffServer& server, std::function<void()> back,
                           QWidget* parent)
    : SidePanelFrame(16, parent), server_(server), content_(new ContentStack(this)),
      running_(new QWidget), qrCode_(new QRCodeView(qrPoints, qrCornerRadius, running_)),
      runningStatus_(statusText(12, running_)), url_(new ElidedLabel(running_)), off_(new QWidget),
      offStatus_(statusText(13, off_)),
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
    off->addWidget(offStatus_, 0, Qt::AlignCenter);
    off_->setMinimumHeight(offContentHeight);

    content_->addWidget(running_);
    content_->addWidget(off_);
    column()->addWidget(content_);
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
    return content_->currentWidget() == running_;
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
        content_->setCurrentWidget(running_);
    } else {
        qrCode_->setImage(QImage());
        offStatus_->setText(server_.status());
        content_->setCurrentWidget(off_);
    }
    button_->setTitle(running ? QStringLiteral("Stop Handoff") : QStringLiteral("Start Handoff"));
    content_->updateGeometry();
    updateGeometry();
}

} // namespace zivra::app
