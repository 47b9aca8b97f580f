#pragma once

#include <QWidget>

class QPushButton;

namespace zivra::app {

// The "Quit Zivra?" alert, drawn over the whole popover: "Quit" ends the application, "Cancel"
// does nothing; either one dismisses the alert. Main thread only; the parent owns
// it, and the getters lend children it owns. Throws nothing but std::bad_alloc.
class QuitConfirmation : public QWidget {
    Q_OBJECT
public:
    explicit QuitConfirmation(QWidget* parent = nullptr);

    QPushButton* quitButton() const { return quit_; }
    QPushButton* cancelButton() const { return cancel_; }

signals:
    void quitChosen();
    void dismissed();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPushButton* quit_;
    QPushButton* cancel_;
};

} // namespace zivra::app
