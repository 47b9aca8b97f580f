#include "app/SliderRow.h"

#include "app/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>
#include <cstdint>

namespace zivra::app {

SliderRow::SliderRow(const QString& label, Binding<float> value, QWidget* parent)
    : QWidget(parent), value_(std::move(value)), percent_(new QLabel(this)),
      slider_(new QSlider(Qt::Horizontal, this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    auto* top = new QHBoxLayout;
    auto* name = new QLabel(label, this);
    name->setTextFormat(Qt::PlainText);
    name->setFont(systemFont(12));
    percent_->setFont(systemFont(12));
    top->addWidget(name);
    top->addStretch(1);
    top->addWidget(percent_);
    column->addLayout(top);
    slider_->setRange(0, resolution);
    slider_->setStyleSheet(tintedSliderStyle(zivraTeal()));
    column->addWidget(slider_);
    connect(slider_, &QSlider::valueChanged, this,
            [this](int position) { value_.set(float(position) / resolution); });
    refresh();
}

void SliderRow::refresh() {
    const float value = value_.get();
    percent_->setText(percentText(value));
    const QSignalBlocker blocker(slider_);
    slider_->setValue(
        std::isfinite(value) ? int(std::lround(std::clamp(value, 0.0f, 1.0f) * resolution)) : 0);
}

QString SliderRow::percentText(float value) {
    // In single precision like the value itself, so 0.29 reads 29% and not 28%.
    const float percent = value * 100.0f;
    // Only values below 2^63 in magnitude fit a 64-bit integer.
    constexpr float limit = 9223372036854775808.0f;
    if (!std::isfinite(percent) || percent <= -limit || percent >= limit) {
        return QStringLiteral("--%");
    }
    return QString::number(static_cast<std::int64_t>(percent)) + QLatin1Char('%');
}

} // namespace zivra::app
