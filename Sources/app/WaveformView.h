#pragma once

#include "app/WaveformGeometry.h"

#include <QColor>
#include <QList>
#include <QWidget>

#include <memory>
#include <vector>

class QVariantAnimation;

namespace zivra::app {

// A row of capsule-shaped level bars. Each bar eases to a new height over 0.06 s; a bar whose
// height does not change stays still. Main thread only; the parent owns it; it keeps a copy
// of the samples. Throws nothing but std::bad_alloc.
class WaveformView : public QWidget {
    Q_OBJECT
public:
    static constexpr int animationMilliseconds = 60;

    WaveformView(int barCount, const QColor& color, QWidget* parent = nullptr);
    ~WaveformView() override;

    void setSamples(const QList<float>& samples, bool isActive);

    // The layout for the current size and fields.
    WaveformGeometry geometryForSize() const;
    // The height bar i is drawn at now (mid-animation it lies between the old and new value).
    double displayedHeight(int index) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void retarget();

    QList<float> samples_;
    bool isActive_ = false;
    int barCount_;
    QColor color_;
    std::vector<double> targets_;
    std::vector<std::unique_ptr<QVariantAnimation>> animations_;
};

} // namespace zivra::app
