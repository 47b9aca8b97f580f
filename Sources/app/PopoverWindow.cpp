#include "app/PopoverWindow.h"

#include "app/MenuView.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

#include <cstdlib>

namespace zivra::app {

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
        place();
    }
}

void PopoverWindow::place() {
    if (!asPopup_) {
        return;
    }
    const QScreen* screen = anchor_.isValid() ? QGuiApplication::screenAt(anchor_.center())
                                              : QGuiApplication::primaryScreen();
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    const QRect area = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), size());
    // Without an icon to point at (a tray that does not tell), the top right corner.
    const QRect anchor =
        anchor_.isValid() ? anchor_ : QRect(area.right() - width() / 2, area.top(), 1, 0);
    // An icon in the lower half of the screen gets the popover above it, growing upwards.
    const bool below = anchor.center().y() < area.center().y();
    const int x = std::clamp(anchor.center().x() - width() / 2, area.left(),
                             std::max(area.left(), area.right() - width() + 1));
    move(x, below ? anchor.bottom() + 1 : anchor.top() - height());
}

void PopoverWindow::showUnder(const QRect& iconGeometry) {
    anchor_ = iconGeometry;
    followContentSize();
    place();
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

} // namespace zivra::app
