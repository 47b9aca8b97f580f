#include "app/MenuView.h"

#include "app/HandoffPanel.h"
#include "app/PitchSection.h"
#include "app/PresetsPanel.h"
#include "app/QuitConfirmation.h"
#include "app/Style.h"
#include "app/Symbols.h"
#include "app/TunerPanel.h"
#include "app/VocalSection.h"
#include "app/WaveformCard.h"
#include "audio/ZivraAudio.h"
#include "handoff/HandoffServer.h"
#include "tuner/Tuner.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace zivra::app {
namespace {

constexpr int headerIconPoints = 15;
constexpr int headerIconFrame = 24;
constexpr int appIconPoints = 28;

// The height a child asks for, within the limits it has been given.
int preferredHeight(const QWidget* widget) {
    return std::clamp(widget->sizeHint().height(), widget->minimumHeight(),
                      widget->maximumHeight());
}

// The application's icon beside its name in the header.
QWidget* appIcon() {
    auto* icon = new QLabel;
    QPixmap image = imagePixmap(QStringLiteral("AppIcon"), appIconPoints);
    if (image.isNull() && !QApplication::windowIcon().isNull()) {
        image = QApplication::windowIcon().pixmap(appIconPoints, appIconPoints);
    }
    if (!image.isNull()) {
        icon->setPixmap(roundedImage(image, appIconPoints, 7));
        icon->setFixedSize(appIconPoints, appIconPoints);
    } else {
        icon->setPixmap(symbolPixmap(QStringLiteral("mic.circle.fill"), 24, zivraTeal()));
    }
    return icon;
}

// A symbol button of the header, drawn in color.
QToolButton* headerButton(const QString& symbol, const QColor& color) {
    auto* button = new QToolButton;
    button->setIcon(QIcon(symbolPixmap(symbol, headerIconPoints, color)));
    button->setIconSize(QSize(headerIconPoints, headerIconPoints));
    button->setFixedSize(headerIconFrame, headerIconFrame);
    button->setStyleSheet(menuButtonStyle());
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

MenuView::MenuView(audio::ZivraAudio& audio, QWidget* parent)
    : QWidget(parent), terminate([] { QCoreApplication::quit(); }),
      handoffServer([]() -> handoff::HandoffServer& { return handoff::HandoffServer::shared(); }),
      tuner([]() -> tuner::Tuner& { return tuner::Tuner::shared(); }), audio_(audio) {
    main_ = new QWidget(this);
    main_->setAutoFillBackground(true);
    auto* column = new QVBoxLayout(main_);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    pitch_ = new PitchSection(audio_, main_);
    vocal_ = new VocalSection(audio_, main_);
    waveform_ = new WaveformCard(audio_, main_);
    column->addWidget(buildHeader());
    column->addWidget(pitch_);
    column->addWidget(vocal_);
    column->addWidget(waveform_);
    column->addWidget(buildFooter());
    main_->setFixedWidth(panelWidth);

    quit_ = new QuitConfirmation(this);
    quit_->hide();
    connect(quit_, &QuitConfirmation::dismissed, this,
            [this] { setShowingQuitConfirmation(false); });
    connect(quit_, &QuitConfirmation::quitChosen, this, [this] { terminate(); });

    presets_ = new PresetsPanel(
        audio_, [this] { withPanelAnimation([this] { setShowing(Panel::presets, false); }); },
        this);
    installPanel(Panel::presets, presets_);

    connect(&audio_, &audio::ZivraAudio::pitchEnabledChanged, pitch_, &PitchSection::refresh);
    connect(&audio_, &audio::ZivraAudio::pitchCentsChanged, pitch_, &PitchSection::refresh);
    connect(&audio_, &audio::ZivraAudio::pitchControlModeChanged, pitch_, &PitchSection::refresh);
    connect(&audio_, &audio::ZivraAudio::removeVocalsEnabledChanged, vocal_,
            &VocalSection::refresh);
    connect(&audio_, &audio::ZivraAudio::vocalRemovalModeChanged, vocal_, &VocalSection::refresh);
    connect(&audio_, &audio::ZivraAudio::vocalMonoChanged, vocal_, &VocalSection::refresh);
    connect(&audio_, &audio::ZivraAudio::vocalKaraokeChanged, vocal_, &VocalSection::refresh);

    setFixedWidth(panelWidth);
    layoutChildren();
}

MenuView::~MenuView() = default;

QWidget* MenuView::buildHeader() {
    auto* header = new QWidget;
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    auto* brand = new QHBoxLayout;
    brand->setSpacing(8);
    brand->addWidget(appIcon(), 0, Qt::AlignVCenter);
    auto* title = new QLabel(QStringLiteral("Zivra"));
    title->setFont(systemFont(15, QFont::DemiBold));
    brand->addWidget(title, 0, Qt::AlignVCenter);
    row->addLayout(brand);
    row->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    const QColor ink = palette().color(QPalette::WindowText);
    sourceButton_ = headerButton(QStringLiteral("airplayaudio"), ink);
    sourceButton_->setPopupMode(QToolButton::InstantPopup);
    auto* sourceMenu = new QMenu(sourceButton_);
    QMenu* output =
        sourceMenu->addMenu(symbolIcon(QStringLiteral("speaker.wave.2")), QStringLiteral("Output"));
    connect(output, &QMenu::aboutToShow, this, [this, output] { fillOutputMenu(output); });
    sourceMenu->addSeparator();
    sourceMenu->addAction(symbolIcon(QStringLiteral("qrcode")), QStringLiteral("Handoff to phone…"),
                          this, &MenuView::openHandoffPanel);
    sourceButton_->setMenu(sourceMenu);

    tunerButton_ = headerButton(QStringLiteral("tuningfork"), ink);
    connect(tunerButton_, &QToolButton::clicked, this, &MenuView::openTunerPanel);
    powerButton_ = headerButton(QStringLiteral("power"), ink);
    connect(powerButton_, &QToolButton::clicked, this,
            [this] { setShowingQuitConfirmation(true); });
    buttons->addWidget(sourceButton_);
    buttons->addWidget(tunerButton_);
    buttons->addWidget(powerButton_);
    row->addLayout(buttons);
    return header;
}

QWidget* MenuView::buildFooter() {
    auto* footer = new QWidget;
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(0, 0, 0, 0);
    row->addStretch(1);
    settingsButton_ = new QToolButton;
    settingsButton_->setIcon(
        QIcon(symbolPixmap(QStringLiteral("gearshape.fill"), 14, secondaryTextColor())));
    settingsButton_->setIconSize(QSize(14, 14));
    settingsButton_->setFixedSize(28, 28);
    settingsButton_->setStyleSheet(menuButtonStyle());
    settingsButton_->setPopupMode(QToolButton::InstantPopup);
    settingsButton_->setCursor(Qt::PointingHandCursor);
    auto* menu = new QMenu(settingsButton_);
    menu->addAction(symbolIcon(QStringLiteral("list.bullet")), QStringLiteral("Presets"), this,
                    [this] { withPanelAnimation([this] { setShowing(Panel::presets, true); }); });
    QMenu* output =
        menu->addMenu(symbolIcon(QStringLiteral("airplayaudio")), QStringLiteral("Output"));
    connect(output, &QMenu::aboutToShow, this, [this, output] { fillOutputMenu(output); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Quit Zivra…"), this,
                    [this] { setShowingQuitConfirmation(true); });
    settingsButton_->setMenu(menu);
    row->addWidget(settingsButton_);
    return footer;
}

void MenuView::fillOutputMenu(QMenu* menu) {
    menu->clear();
    const QIcon check = symbolIcon(QStringLiteral("checkmark"));
    const std::optional<std::uint32_t> selected = audio_.selectedOutputID();
    QAction* systemDefault = menu->addAction(QStringLiteral("System default"), menu,
                                             [this] { audio_.setSelectedOutputID(std::nullopt); });
    if (!selected) {
        systemDefault->setIcon(check);
    }
    menu->addSeparator();
    for (const audio::OutputDevice& device : audio_.outputDevices()) {
        const std::uint32_t id = device.audioID;
        QAction* item = menu->addAction(verbatim(device.name), menu,
                                        [this, id] { audio_.setSelectedOutputID(id); });
        if (selected && *selected == id) {
            item->setIcon(check);
        }
    }
}

bool MenuView::isShowing(Panel panel) const {
    return side(panel).showing;
}

QWidget* MenuView::panel(Panel panel) const {
    return side(panel).widget;
}

void MenuView::openHandoffPanel() {
    if (!handoffPanel()) {
        installPanel(Panel::handoff, new HandoffPanel(handoffServer(), [this] {
                         withPanelAnimation([this] { setShowing(Panel::handoff, false); });
                     }));
    }
    withPanelAnimation([this] { setShowing(Panel::handoff, true); });
}

HandoffPanel* MenuView::handoffPanel() const {
    return static_cast<HandoffPanel*>(panel(Panel::handoff));
}

void MenuView::openTunerPanel() {
    if (!panel(Panel::tuner)) {
        installPanel(Panel::tuner, new TunerPanel(tuner(), [this] {
                         withPanelAnimation([this] { setShowing(Panel::tuner, false); });
                     }));
    }
    withPanelAnimation([this] { setShowing(Panel::tuner, true); });
}

void MenuView::installPanel(Panel which, QWidget* widget) {
    SidePanel& panel = side(which);
    delete panel.slide;
    delete panel.widget;
    panel.widget = widget;
    widget->setParent(this);
    widget->setFixedWidth(panelWidth);
    widget->setVisible(panel.showing);
    panel.slide = new QVariantAnimation(this);
    panel.slide->setDuration(slideMilliseconds);
    panel.slide->setEasingCurve(QEasingCurve::InOutQuad);
    connect(panel.slide, &QVariantAnimation::valueChanged, this, [this, which](const QVariant& x) {
        QWidget* widget = side(which).widget;
        widget->move(x.toInt(), widget->y());
    });
    connect(panel.slide, &QVariantAnimation::finished, this, [this, which] {
        SidePanel& finished = side(which);
        if (!finished.showing) {
            finished.widget->hide();
        }
        layoutChildren();
        updateGeometry();
    });
    restack();
    layoutChildren();
    updateGeometry();
}

void MenuView::withPanelAnimation(const std::function<void()>& change) {
    const bool outer = animating_;
    animating_ = true;
    change();
    animating_ = outer;
}

void MenuView::setShowing(Panel which, bool showing) {
    SidePanel& panel = side(which);
    panel.showing = showing;
    if (!panel.widget) {
        return;
    }
    panel.slide->stop();
    if (showing) {
        if (panel.widget->isHidden()) {
            panel.widget->move(width(), panel.widget->y());
            panel.widget->show();
        }
        restack();
    }
    if (animating_ && !panel.widget->isHidden()) {
        panel.slide->setStartValue(panel.widget->x());
        panel.slide->setEndValue(showing ? 0 : width());
        panel.slide->start();
    } else {
        panel.widget->setVisible(showing);
    }
    layoutChildren();
    updateGeometry();
}

void MenuView::setShowingQuitConfirmation(bool showing) {
    showingQuitConfirmation_ = showing;
    quit_->setGeometry(rect());
    quit_->setVisible(showing);
    if (showing) {
        quit_->raise();
    }
}

void MenuView::restack() {
    for (const SidePanel& panel : panels_) {
        if (panel.widget) {
            panel.widget->raise();
        }
    }
    quit_->raise();
}

QSize MenuView::sizeHint() const {
    int height = preferredHeight(main_);
    for (const SidePanel& panel : panels_) {
        if (panel.widget && !panel.widget->isHidden()) {
            height = std::max(height, preferredHeight(panel.widget));
        }
    }
    return {panelWidth, height};
}

void MenuView::layoutChildren() {
    const int height = this->height();
    const int mainHeight = preferredHeight(main_);
    main_->setGeometry(0, (height - mainHeight) / 2, panelWidth, mainHeight);
    for (const SidePanel& panel : panels_) {
        if (!panel.widget) {
            continue;
        }
        const int panelHeight = preferredHeight(panel.widget);
        const int x = panel.slide->state() == QAbstractAnimation::Running
                          ? panel.widget->x()
                          : (panel.showing ? 0 : width());
        panel.widget->setGeometry(x, (height - panelHeight) / 2, panelWidth, panelHeight);
    }
    quit_->setGeometry(rect());
}

bool MenuView::event(QEvent* event) {
    if (event->type() == QEvent::LayoutRequest) {
        layoutChildren();
        updateGeometry();
    }
    return QWidget::event(event);
}

void MenuView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutChildren();
}

} // namespace zivra::app
