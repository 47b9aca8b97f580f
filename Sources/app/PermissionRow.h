#pragma once

#include "app/PermissionRowState.h"

#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace zivra::app {

class Spinner;

// One permission of the onboarding: badge, title, description, status line and a button that
// always runs the row's one action, whatever its title says (it keeps the action). Main thread
// only; the parent owns it, and the getters lend children it owns. Throws nothing but
// std::bad_alloc.
class PermissionRow : public QWidget {
    Q_OBJECT
public:
    PermissionRow(const QString& icon, const QString& title, const QString& description,
                  std::function<void()> action, QWidget* parent = nullptr);

    void display(PermissionRowState state, bool isLoading);

    QLabel* status() const { return status_; }
    QPushButton* button() const { return button_; }
    Spinner* spinner() const { return spinner_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* status_;
    QPushButton* button_;
    Spinner* spinner_;
    QLabel* buttonText_;
};

} // namespace zivra::app
