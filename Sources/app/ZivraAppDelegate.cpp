#include "app/ZivraAppDelegate.h"

#include "app/Logging.h"
#include "app/MenuBarVisibilityRepair.h"
#include "app/MenuView.h"
#include "app/OnboardingView.h"
#include "app/OnboardingWindow.h"
#include "app/PopoverWindow.h"
#include "app/Symbols.h"
#include "audio/ZivraAudio.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QSettings>
#include <QSystemTrayIcon>

#include <numbers>

namespace zivra::app {
namespace {

QColor templateColor() {
    return QApplication::palette().color(QPalette::WindowText);
}

} // namespace

ZivraAppDelegate::ZivraAppDelegate(audio::ZivraAudio& audio, PermissionServices services,
                                   QObject* parent)
    : QObject(parent), terminate([] { QCoreApplication::quit(); }), audio_(audio),
      services_(std::move(services)) {}

ZivraAppDelegate::~ZivraAppDelegate() {
    delete onboardingWindow_;
    delete popover_;
}

void ZivraAppDelegate::applicationDidFinishLaunching() {
    const QPointer<ZivraAppDelegate> self(this);
    audio_.permissionPromptHandler = [self] {
        if (self) {
            self->permissionPromptAction();
        }
    };
    audio_.permissionGrantedHandler = [self] {
        if (self) {
            self->permissionGrantedAction();
        }
    };
    MenuBarVisibilityRepair::setVisible(true, bundleIdentifier);
    createStatusItem();
    showOnboardingIfNeeded();
    // Without a tray there is nothing to click: the popover opens as a window by itself.
    if (!hasTray() && !onboardingWindow_) {
        showPopover();
    }
}

void ZivraAppDelegate::applicationWillTerminate() {
    qCInfo(appLog) << "Zivra quits";
    audio_.cleanup();
}

void ZivraAppDelegate::permissionPromptAction() {
    shouldReopenPopoverAfterPermission_ = popover_ && popover_->isVisible();
}

void ZivraAppDelegate::permissionGrantedAction() {
    if (shouldReopenPopoverAfterPermission_) {
        shouldReopenPopoverAfterPermission_ = false;
        showPopover();
    }
}

bool ZivraAppDelegate::hasTray() const {
    return statusItem_ != nullptr;
}

void ZivraAppDelegate::createStatusItem() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        qCWarning(appLog) << "No system tray: Zivra shows its window instead of a tray icon";
        MenuBarVisibilityRepair::setVisible(true, bundleIdentifier);
        return;
    }
    auto* item = new QSystemTrayIcon(this);
    QIcon icon = statusBarIcon();
    item->setIcon(icon);
    item->setToolTip(QStringLiteral("Zivra"));
    connect(item, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    togglePopover();
                }
            });
    item->show();
    statusItem_ = item;
    MenuBarVisibilityRepair::setVisible(true, bundleIdentifier);
}

QIcon ZivraAppDelegate::statusBarIcon() {
    QIcon icon;
    if (hasDrawing(QStringLiteral("menu_bar_icon"))) {
        for (int points : {14, 16, 22, 24, 32}) {
            icon.addPixmap(symbolPixmap(QStringLiteral("menu_bar_icon"), points, templateColor()));
        }
        return icon;
    }
    const QPixmap rotated = rotatedSymbolIcon(QStringLiteral("mic.fill"), 22, std::numbers::pi / 4);
    if (!rotated.isNull()) {
        return QIcon(rotated);
    }
    return QIcon(symbolPixmap(QStringLiteral("mic"), 22, templateColor()));
}

QPixmap ZivraAppDelegate::rotatedSymbolIcon(const QString& name, int size, double rotation) {
    const double inner = size * 0.7;
    const QPixmap symbol = symbolPixmap(name, qCeil(inner), templateColor());
    if (symbol.isNull()) {
        return {};
    }
    QPixmap image = blankPixmap(size);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    painter.translate(size * 0.5, size * 0.5);
    painter.rotate(rotation * 180.0 / std::numbers::pi);
    painter.translate(-size * 0.5, -size * 0.5);
    const double inset = (size - inner) * 0.5;
    painter.drawPixmap(QRectF(inset, inset, inner, inner), symbol, QRectF(symbol.rect()));
    return image;
}

void ZivraAppDelegate::togglePopover() {
    if (onboardingRequired()) {
        showOnboardingIfNeeded();
        return;
    }
    if (!popover_ || !popover_->isVisible()) {
        showPopover();
    } else {
        popover_->close();
    }
}

void ZivraAppDelegate::reopen() {
    if (onboardingRequired()) {
        showOnboardingIfNeeded();
    } else {
        showPopover();
    }
}

void ZivraAppDelegate::showPopover() {
    if (!popover_) {
        popover_ = new PopoverWindow(new MenuView(audio_), hasTray());
        connect(popover_, &PopoverWindow::closed, this, &ZivraAppDelegate::popoverDidClose);
        if (!hasTray()) {
            // Without a tray nothing could bring a closed window back, and Zivra would go on
            // changing the sound out of reach: closing the window quits.
            popover_->installEventFilter(this);
        }
    }
    shouldReopenPopoverAfterPermission_ = false;
    popover_->showUnder(statusItem_ ? statusItem_->geometry() : QRect());
}

bool ZivraAppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (watched == popover_ && event->type() == QEvent::Close) {
        terminate();
    }
    return QObject::eventFilter(watched, event);
}

void ZivraAppDelegate::popoverDidClose() {
    shouldReopenPopoverAfterPermission_ = false;
}

bool ZivraAppDelegate::onboardingRequired() const {
    return app::onboardingRequired(services_, QSettings());
}

void ZivraAppDelegate::showOnboardingIfNeeded() {
    if (!onboardingRequired()) {
        return;
    }
    if (onboardingWindow_) {
        onboardingWindow_->show();
        onboardingWindow_->raise();
        onboardingWindow_->activateWindow();
        return;
    }
    const QPointer<ZivraAppDelegate> self(this);
    auto* view = new OnboardingView(
        services_,
        [self] {
            if (!self) {
                return;
            }
            if (self->onboardingWindow_) {
                self->onboardingWindow_->close();
                self->onboardingWindow_->deleteLater();
            }
            self->onboardingWindow_ = nullptr;
            self->showPopover();
        },
        [self] {
            if (!self) {
                return;
            }
            if (self->onboardingWindow_) {
                self->onboardingWindow_->close();
            }
            self->terminate();
        });
    qCInfo(appLog) << "Showing the onboarding";
    onboardingWindow_ = new OnboardingWindow(view);
    onboardingWindow_->show();
    onboardingWindow_->raise();
    onboardingWindow_->activateWindow();
}

} // namespace zivra::app
