#pragma once

#include "app/Binding.h"

#include <QWidget>

namespace zivra::app {

class ToggleSwitch;

// A text on the left and an on/off switch on the right, bound to a Boolean (the binding is
// kept). Main thread only; the parent owns it, and the getters lend children it owns. Throws
// nothing but std::bad_alloc.
class LabeledToggle : public QWidget {
    Q_OBJECT
public:
    LabeledToggle(const QString& label, Binding<bool> isOn, QWidget* parent = nullptr);

    // Reads the bound value again.
    void refresh();

    ToggleSwitch* toggle() const { return switch_; }

private:
    Binding<bool> isOn_;
    ToggleSwitch* switch_;
};

} // namespace zivra::app
