#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace zivra::app {

// The pieces of the side panels. Each builds a new widget owned by parent (the caller's when
// parent is null); main thread only; throw nothing but std::bad_alloc. The header keeps back.

// "< Back": the label of every side panel's back button.
QWidget* backButtonLabel(QWidget* parent = nullptr);
// A side panel's first row: the back button running back, and the title centred in the space
// that the button leaves.
QWidget* panelHeader(const QString& title, std::function<void()> back, QWidget* parent = nullptr);
// The label row of a side panel's main button: the label centred between two flexible spaces,
// so that the row takes the button's full width, with 10 points of padding above and below.
// The row takes ownership of label.
QWidget* panelRow(QWidget* label, QWidget* parent = nullptr);

} // namespace zivra::app
