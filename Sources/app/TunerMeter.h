#pragma once

#include <QColor>
#include <QPointF>
#include <QWidget>

class QVariantAnimation;

namespace zivra::app {

// A horizontal cents scale: a thin track with ticks at -50, -25, 0, 25 and 50 cents (the centre
// one in the accent colour) and an upward pointer under it at the deviation, clamped to the
// ends. The pointer is in the accent colour while the deviation is within 5 cents, in the text
// colour beyond, and slides to a new value in 0.05 s. Main thread only; the parent owns it.
// Throws nothing but std::bad_alloc.
class TunerMeter : public QWidget {
    Q_OBJECT
public:
    static constexpr int meterHeight = 34;
    static constexpr int pointerSize = 12;
    static constexpr int slideMilliseconds = 50;

    TunerMeter(qint64 cents, double range, const QColor& zivraTeal, QWidget* parent = nullptr);
    ~TunerMeter() override;

    qint64 cents() const { return cents_; }
    void setCents(qint64 cents);

    // Where the pointer's centre rests for the current value, and its colour.
    QPointF pointerCenter() const;
    QColor pointerColor() const;
    // The x of the tick for a value in cents.
    double tickX(double cents) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double xFor(double cents) const;
    double clamped(double cents) const;

    qint64 cents_;
    double range_;
    QColor teal_;
    // The value the pointer is drawn at, which follows cents_ through the slide.
    double shownCents_;
    QVariantAnimation* slide_;
};

} // namespace zivra::app
