#include "app/TunerMeter.h"

#include "app/Style.h"
#include "app/Symbols.h"

#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

#include <algorithm>
#include <array>
#include <cmath>

namespace zivra::app {
namespace {

constexpr std::array<double, 5> tickCents{-50, -25, 0, 25, 50};
constexpr qint64 inTuneCents = 5;

} // namespace

TunerMeter::TunerMeter(qint64 cents, double range, const QColor& zivraTeal, QWidget* parent)
    : QWidget(parent), cents_(cents), range_(range), teal_(zivraTeal),
      shownCents_(clamped(static_cast<double>(cents))), slide_(new QVariantAnimation(this)) {
    setFixedHeight(meterHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    slide_->setDuration(slideMilliseconds);
    slide_->setEasingCurve(QEasingCurve::Linear);
    connect(slide_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        shownCents_ = value.toDouble();
        update();
    });
}

TunerMeter::~TunerMeter() = default;

void TunerMeter::setCents(qint64 cents) {
    cents_ = cents;
    slide_->stop();
    slide_->setStartValue(shownCents_);
    slide_->setEndValue(clamped(static_cast<double>(cents)));
    slide_->start();
}

double TunerMeter::clamped(double cents) const {
    return std::clamp(cents, -range_, range_);
}

double TunerMeter::xFor(double cents) const {
    const double half = width() * 0.5;
    return half + (cents / range_) * half;
}

double TunerMeter::tickX(double cents) const {
    return xFor(cents);
}

QPointF TunerMeter::pointerCenter() const {
    return {xFor(clamped(static_cast<double>(cents_))), height() * 0.5 + 8};
}

QColor TunerMeter::pointerColor() const {
    return std::llabs(cents_) > inTuneCents ? palette().color(QPalette::WindowText) : teal_;
}

void TunerMeter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double middle = height() * 0.5;

    QPainterPath track;
    track.addRoundedRect(QRectF(0, middle - 2, width(), 4), 2, 2);
    painter.fillPath(track, faded(secondaryTextColor(), 0.2f));

    for (const double tick : tickCents) {
        const bool centre = tick == 0;
        const QSizeF size = centre ? QSizeF(2, 16) : QSizeF(1, 10);
        const QRectF mark(QPointF(xFor(tick) - size.width() / 2, middle - size.height() / 2), size);
        painter.fillRect(mark, centre ? teal_ : faded(secondaryTextColor(), 0.4f));
    }

    const QPointF pointer(xFor(shownCents_), middle + 8);
    painter.drawPixmap(
        pointer - QPointF(pointerSize / 2.0, pointerSize / 2.0),
        symbolPixmap(QStringLiteral("arrowtriangle.up.fill"), pointerSize, pointerColor()));
}

} // namespace zivra::app
