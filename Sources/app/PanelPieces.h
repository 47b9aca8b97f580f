#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace zivra::app {

// Both build a new widget owned by parent (the caller's when parent is null); main thread
// only; throw nothing but std::bad_alloc. The header keeps back.

// "< Back": the label of every side panel's back button.
QWidget* backButtonLabel(QWidget* parent = nullptr);
// A side panel's first row: the back button running back, and the title centred in the space
// that the button leaves.
QWidget* panelHeader(const QString& title, std::function<void()> back, QWidget* parent = nullptr);

} // namespace zivra::app
