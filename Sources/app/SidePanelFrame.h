#pragma once

#include <QWidget>

class QVBoxLayout;

namespace zivra::app {

// The frame every side panel of the popover shares: a column aligned to the leading edge,
// 20 points of inset and the panel material behind it. Panels add their rows to column().
// Main thread only; the parent owns it, and column() lends the layout it owns. Throws nothing
// but std::bad_alloc.
class SidePanelFrame : public QWidget {
    Q_OBJECT
public:
    static constexpr int inset = 20;

    explicit SidePanelFrame(int spacing, QWidget* parent = nullptr);

    QVBoxLayout* column() const { return column_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* column_;
};

} // namespace zivra::app
