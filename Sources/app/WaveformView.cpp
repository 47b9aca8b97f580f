#include "app/WaveformView.h"

#include <QEasingCurve>
#include <QLinearGradient>
#include <QPainter>
#include <QVariantAnimation>

namespace zivra::app {

WaveformView::WaveformView(int barCount, const QColor& color, QWidget* parent)
    : QWidget(parent), barCount_(barCount), color_(color) {
    setAttribute(Qt::WA_TranslucentBackground);
    targets_.assign(barCount_, WaveformGeometry::inactiveHeight);
    for (int i = 0; i < barCount_; ++i) {
        auto animation = std::make_unique<QVariantAnimation>();
        animation->setDuration(animationMilliseconds);
        animation->setEasingCurve(QEasingCurve::OutQuad);
        animation->setStartValue(WaveformGeometry::inactiveHeight);
        animation->setEndValue(WaveformGeometry::inactiveHeight);
        connect(animation.get(), &QVariantAnimation::valueChanged, this, [this] { update(); });
        animations_.push_back(std::move(animation));
    }
}

WaveformView::~WaveformView() = default;

void WaveformView::setSamples(const QList<float>& samples, bool isActive) {
    samples_ = samples;
    isActive_ = isActive;
    retarget();
}

WaveformGeometry WaveformView::geometryForSize() const {
    return WaveformGeometry::compute(samples_, isActive_, barCount_, width(), height());
}

double WaveformView::displayedHeight(int index) const {
    const QVariantAnimation& animation = *animations_[index];
    return animation.state() == QAbstractAnimation::Running ? animation.currentValue().toDouble()
                                                            : targets_[index];
}

void WaveformView::retarget() {
    const WaveformGeometry geometry = geometryForSize();
    for (int i = 0; i < barCount_; ++i) {
        const double target = geometry.heights[i];
        if (target == targets_[i]) {
            continue;
        }
        QVariantAnimation& animation = *animations_[i];
        const double from = displayedHeight(i);
        animation.stop();
        animation.setStartValue(from);
        animation.setEndValue(target);
        targets_[i] = target;
        animation.start();
    }
    update();
}

void WaveformView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    retarget();
}

void WaveformView::paintEvent(QPaintEvent*) {
    const WaveformGeometry geometry = geometryForSize();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QColor faded = color_;
    faded.setAlphaF(0.45f);
    const double midY = height() * 0.5;
    for (int i = 0; i < barCount_; ++i) {
        const double h = displayedHeight(i);
        const QRectF bar(geometry.barX(i, width()), midY - h * 0.5, geometry.barWidth, h);
        QLinearGradient gradient(bar.bottomLeft(), bar.topLeft());
        gradient.setColorAt(0, faded);
        gradient.setColorAt(1, color_);
        painter.setBrush(gradient);
        const double radius = std::min(bar.width(), bar.height()) * 0.5;
        painter.drawRoundedRect(bar, radius, radius);
    }
}

} // namespace zivra::app
