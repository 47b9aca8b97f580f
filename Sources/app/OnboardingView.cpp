#include "app/OnboardingView.h"

#include "app/PermissionRow.h"
#include "app/Style.h"
#include "app/Symbols.h"

#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

namespace zivra::app {
namespace {

QLabel* headerIcon(QWidget* parent) {
    auto* icon = new QLabel(parent);
    const QPixmap image = imagePixmap(QStringLiteral("AppIcon"), 88);
    if (image.isNull()) {
        icon->setPixmap(symbolPixmap(QStringLiteral("mic.circle.fill"), 40, zivraTeal()));
        return icon;
    }
    // The drawing is made at 88 points and shown in a 40-point frame.
    icon->setPixmap(roundedImage(image, 40, 10));
    icon->setFixedSize(40, 40);
    return icon;
}

} // namespace

OnboardingView::OnboardingView(PermissionServices services, std::function<void()> completion,
                               std::function<void()> quit, QWidget* parent)
    : QWidget(parent), services_(std::move(services)), completion_(std::move(completion)),
      quitAction_(std::move(quit)),
      audioRow_(new PermissionRow(QStringLiteral("waveform"), QStringLiteral("System Audio"),
                                  QStringLiteral("Capture this computer's audio output so "
                                                 "Zivra can shift pitch, remove vocals, and "
                                                 "stream to your phone."),
                                  [this] { requestAudio(); })),
      accessibilityRow_(new PermissionRow(
          QStringLiteral("keyboard"), QStringLiteral("Accessibility"),
          QStringLiteral("Send media-key commands (play, pause, next, previous) from Handoff and "
                         "the popover."),
          [this] { requestAccessibility(); })),
      mediaRow_(new PermissionRow(QStringLiteral("play.rectangle"),
                                  QStringLiteral("Media Player Control"),
                                  QStringLiteral("Read and control Spotify / Music so Handoff "
                                                 "can show now-playing info and transport "
                                                 "controls."),
                                  [this] { requestMediaPlayer(); })),
      continue_(new QPushButton), quit_(new QPushButton(QStringLiteral("Quit"))),
      poll_(new QTimer(this)) {
    setFixedSize(contentSize);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setStyleSheet(transparentScrollAreaStyle());
    outer->addWidget(scroll);

    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(28, 28, 28, 28);
    column->setSpacing(20);
    column->addWidget(buildTitleBar());
    column->addWidget(buildHeader());
    auto* rows = new QVBoxLayout;
    rows->setSpacing(12);
    for (PermissionRow* row : {audioRow_, accessibilityRow_, mediaRow_}) {
        row->setParent(content);
        rows->addWidget(row);
    }
    column->addLayout(rows);
    column->addStretch(1);

    auto* label = new QHBoxLayout(continue_);
    label->setContentsMargins(0, 10, 0, 10);
    auto* text = new QLabel(QStringLiteral("Continue"), continue_);
    text->setFont(systemFont(14, QFont::DemiBold));
    // A style sheet, not the palette: the button's own style sheet decides its children's look.
    text->setStyleSheet(QStringLiteral("color: white;"));
    text->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->addStretch(1);
    label->addWidget(text);
    label->addStretch(1);
    continue_->setMinimumHeight(label->sizeHint().height());
    continue_->setStyleSheet(prominentButtonStyle(zivraTeal()));
    continue_->setGraphicsEffect(new QGraphicsOpacityEffect(continue_));
    continue_->setParent(content);
    column->addWidget(continue_);
    scroll->setWidget(content);

    connect(continue_, &QPushButton::clicked, this, [this] {
        QSettings().setValue(onboardingCompletedKey, true);
        completion_();
    });
    connect(quit_, &QPushButton::clicked, this, [this] { quitAction_(); });
    poll_->setInterval(pollMilliseconds);
    connect(poll_, &QTimer::timeout, this, &OnboardingView::refreshNonInteractiveStates);
    redisplay();
}

QWidget* OnboardingView::buildTitleBar() {
    auto* bar = new QWidget;
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->addStretch(1);
    quit_->setFont(systemFont(11, QFont::Medium));
    QColor red(0xe0, 0x30, 0x30);
    red.setAlphaF(0.8f);
    quit_->setStyleSheet(borderedButtonStyle(red));
    row->addWidget(quit_);
    return bar;
}

QWidget* OnboardingView::buildHeader() {
    auto* header = new QWidget;
    auto* column = new QVBoxLayout(header);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    row->addWidget(headerIcon(header), 0, Qt::AlignVCenter);
    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    auto* title = new QLabel(QStringLiteral("Welcome to Zivra"), header);
    title->setFont(systemFont(20, QFont::Bold));
    auto* subtitle =
        new QLabel(QStringLiteral("A few permissions are needed before you start."), header);
    subtitle->setFont(systemFont(12));
    setTextColor(subtitle, secondaryTextColor());
    text->addWidget(title);
    text->addWidget(subtitle);
    row->addLayout(text, 1);
    column->addLayout(row);
    auto* divider = new QFrame(header);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setStyleSheet(QStringLiteral("color: rgba(0,0,0,35);"));
    column->addWidget(divider);
    return header;
}

bool OnboardingView::canContinue() const {
    // No player running is no refusal: a desktop often runs none, and pitch shifting and vocal
    // removal need none. A refusal still blocks.
    const bool media = mediaPlayerState_ == PermissionRowState::granted ||
                       mediaPlayerState_ == PermissionRowState::needsApp;
    return audioState_ == PermissionRowState::granted &&
           accessibilityState_ == PermissionRowState::granted && media;
}

void OnboardingView::redisplay() {
    audioRow_->display(audioState_, isRequestingAudio_);
    accessibilityRow_->display(accessibilityState_, false);
    mediaRow_->display(mediaPlayerState_, isRequestingMedia_);
    const bool enabled = canContinue();
    continue_->setEnabled(enabled);
    static_cast<QGraphicsOpacityEffect*>(continue_->graphicsEffect())
        ->setOpacity(enabled ? 1.0 : 0.5);
}

void OnboardingView::refreshNonInteractiveStates() {
    if (services_.audioGranted()) {
        audioState_ = PermissionRowState::granted;
    }
    if (services_.accessibilityTrusted()) {
        accessibilityState_ = PermissionRowState::granted;
    }
    const bool probe =
        mediaPlayerState_ == PermissionRowState::denied ||
        (mediaPlayerState_ == PermissionRowState::needsApp && services_.mediaPlayerRunning());
    if (probe) {
        mediaPlayerState_ = rowState(services_.mediaControlStatus());
    }
    redisplay();
}

void OnboardingView::requestAudio() {
    if (isRequestingAudio_) {
        return;
    }
    isRequestingAudio_ = true;
    redisplay();
    services_.requestAudio([view = QPointer<OnboardingView>(this)](bool granted) {
        if (!view) {
            return;
        }
        view->audioState_ = granted ? PermissionRowState::granted : PermissionRowState::denied;
        view->isRequestingAudio_ = false;
        view->redisplay();
        if (!granted) {
            view->openSecurityPane(QStringLiteral("Privacy_ScreenCapture"));
        }
    });
}

void OnboardingView::requestAccessibility() {
    if (!services_.accessibilityTrusted()) {
        services_.promptAccessibility();
    }
    accessibilityState_ = services_.accessibilityTrusted() ? PermissionRowState::granted
                                                           : PermissionRowState::undetermined;
    redisplay();
    if (accessibilityState_ != PermissionRowState::granted) {
        openSecurityPane(QStringLiteral("Privacy_Accessibility"));
    }
}

void OnboardingView::requestMediaPlayer() {
    if (isRequestingMedia_) {
        return;
    }
    isRequestingMedia_ = true;
    const PermissionServices::MediaStatus status = services_.mediaControlStatus();
    mediaPlayerState_ = rowState(status);
    if (status == PermissionServices::MediaStatus::denied) {
        openSecurityPane(QStringLiteral("Privacy_Automation"));
    } else if (status == PermissionServices::MediaStatus::noPlayerRunning) {
        services_.openMediaPlayerApp();
    }
    isRequestingMedia_ = false;
    redisplay();
}

void OnboardingView::openSecurityPane(const QString& anchor) {
    const QUrl url(QStringLiteral("x-apple.systempreferences:com.apple.preference.security?") +
                   anchor);
    if (url.isValid()) {
        services_.openURL(url);
    }
}

void OnboardingView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshNonInteractiveStates();
    poll_->start();
}

void OnboardingView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    poll_->stop();
}

} // namespace zivra::app
