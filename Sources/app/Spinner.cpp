#include "app/Spinner.h"

#include <QPainter>
#include <QTimer>

namespace zivra::app {

Spinner::Spinner(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
    setFixedSize(14, 14);
    timer_->setInterval(50);
    connect(timer_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + 30) % 360;
        update();
    });
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn at six tenths of its frame, like a small control's spinner.
    const qreal side = width() * 0.6;
    const QRectF arc((width() - side) / 2, (height() - side) / 2, side, side);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1.5, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(arc, -angle_ * 16, 270 * 16);
}

void Spinner::showEvent(QShowEvent*) {
    timer_->start();
}

void Spinner::hideEvent(QHideEvent*) {
    timer_->stop();
}

} // namespace zivra::app
