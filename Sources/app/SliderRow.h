#pragma once

#include "app/Binding.h"

#include <QString>
#include <QWidget>

class QLabel;
class QSlider;

namespace zivra::app {

// A labelled slider for an amount from 0 to 1, with the amount as a percentage beside the label.
// It keeps the binding. Main thread only; the parent owns it, and the getters lend children it
// owns. Throws nothing but std::bad_alloc.
class SliderRow : public QWidget {
    Q_OBJECT
public:
    // Slider positions per unit: fine enough to move the value without visible steps.
    static constexpr int resolution = 1000;

    SliderRow(const QString& label, Binding<float> value, QWidget* parent = nullptr);

    void refresh();

    // The whole percent of value (truncated toward zero) and "%"; "--%" for a value that is
    // not finite or whose percentage does not fit a 64-bit integer. Any thread.
    static QString percentText(float value);

    QSlider* slider() const { return slider_; }
    QLabel* percentLabel() const { return percent_; }

private:
    Binding<float> value_;
    QLabel* percent_;
    QSlider* slider_;
};

} // namespace zivra::app
