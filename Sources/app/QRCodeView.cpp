#include "app/QRCodeView.h"

#include <QPainter>
#include <QPainterPath>

namespace zivra::app {

QRCodeView::QRCodeView(int points, int cornerRadius, QWidget* parent)
    : QWidget(parent), cornerRadius_(cornerRadius) {
    setFixedSize(points, points);
}

void QRCodeView::setImage(const QImage& image) {
    image_ = image;
    update();
}

void QRCodeView::paintEvent(QPaintEvent*) {
    if (image_.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    // Fitted in its aspect ratio, centred in the square.
    const QSize fitted = image_.size().scaled(size(), Qt::KeepAspectRatio);
    QRect target(QPoint(), fitted);
    target.moveCenter(rect().center());
    QPainterPath corners;
    corners.addRoundedRect(target, cornerRadius_, cornerRadius_);
    painter.setClipPath(corners);
    painter.drawImage(target, image_);
}

} // namespace zivra::app
