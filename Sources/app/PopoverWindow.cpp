#include "PopoverWindow.h"

#include "MenuView.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

#include <cstdlib>

namespace zivra {

PopoverWindow::PopoverWindow(MenuView* view, bool asPopup)
    : QWidget(nullptr, asPopup ? Qt::Popup | Qt::FramelessWindowHint : Qt::Window), view_(view),
      asPopup_(asPopup) {
    setWindowTitle(QStringLiteral("Zivra"));
    view_->setParent(this);
    view_->move(0, 0);
    resize(view_->sizeHint());
}

void PopoverWindow::followContentSize() {
    const QSize fitting = view_->sizeHint();
    if (fitting.height() <= 0) {
        return;
    }
    if (std::abs(fitting.height() - height()) > resizeTolerance ||
        std::abs(fitting.width() - width()) > resizeTolerance) {
        resize(fitting);
    }
}

void PopoverWindow::showUnder(const QRect& iconGeometry) {
    followContentSize();
    if (asPopup_) {
        const QScreen* screen = iconGeometry.isValid()
                                    ? QGuiApplication::screenAt(iconGeometry.center())
                                    : QGuiApplication::primaryScreen();
        if (!screen) {
            screen = QGuiApplication::primaryScreen();
        }
        const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
        const QRect anchor = iconGeometry.isValid()
                                 ? iconGeometry
                                 : QRect(area.right() - width() / 2, area.top(), 1, 0);
        const bool below = anchor.center().y() < area.center().y();
        int x = anchor.center().x() - width() / 2;
        x = std::clamp(x, area.left(), std::max(area.left(), area.right() - width() + 1));
        const int y = below ? anchor.bottom() + 1 : anchor.top() - height();
        move(x, y);
    }
    show();
    raise();
    activateWindow();
}

bool PopoverWindow::event(QEvent* event) {
    if (event->type() == QEvent::LayoutRequest) {
        followContentSize();
    }
    return QWidget::event(event);
}

void PopoverWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    emit closed();
}

void PopoverWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    view_->resize(size());
}

} // namespace zivra
