#pragma once

#include <QWidget>

class QTimer;

namespace zivra::app {

// A small indeterminate progress indicator: an arc turning while the widget is shown. Main
// thread only; the parent owns it. Throws nothing but std::bad_alloc.
class Spinner : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer* timer_;
    int angle_ = 0;
};

} // namespace zivra::app
