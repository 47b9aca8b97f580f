#pragma once

#include <QAbstractButton>

namespace zivra::app {

// An on/off switch: a rounded track with a round knob, tinted when on. Main thread only; the
// parent owns it. Throws nothing but std::bad_alloc.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT
public:
    explicit ToggleSwitch(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace zivra::app
