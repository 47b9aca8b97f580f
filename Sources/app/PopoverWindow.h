#pragma once

#include <QWidget>

namespace zivra::app {

class MenuView;

// The window that shows the popover's root view: a borderless popup under the tray icon that
// closes when the user clicks elsewhere, or an ordinary window where no tray exists. Its size
// follows the root view's, ignoring changes of 4 points or less. Main thread only; the window
// takes the view as its child, and the application delegate owns the window. Throws nothing but
// std::bad_alloc.
class PopoverWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int resizeTolerance = 4;

    PopoverWindow(MenuView* view, bool asPopup);

    MenuView* view() const { return view_; }
    // Takes the root view's fitting size when it differs by more than the tolerance.
    void followContentSize();
    // Shows the popover below an icon at the top of the screen, or above one at the bottom.
    void showUnder(const QRect& iconGeometry);

signals:
    void closed();

protected:
    bool event(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void place();

    MenuView* view_;
    QRect anchor_;
    bool asPopup_;
};

} // namespace zivra::app
