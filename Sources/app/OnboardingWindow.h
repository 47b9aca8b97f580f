#pragma once

#include <QWidget>

namespace zivra::app {

class OnboardingView;

// The borderless, rounded, always-on-top window that holds the onboarding view. It has a
// taskbar entry while it is open and moves when its background is dragged. Main thread only;
// the window takes the view as its child, and the application delegate owns the window.
// Throws nothing but std::bad_alloc.
class OnboardingWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int cornerRadius = 18;

    explicit OnboardingWindow(OnboardingView* view);

    OnboardingView* view() const { return view_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    OnboardingView* view_;
};

} // namespace zivra::app
