#pragma once

#include "app/SidePanelFrame.h"

#include <functional>

class QComboBox;
class QLabel;

namespace zivra::tuner {
class Tuner;
}

namespace zivra::app {

class PanelButton;
class TunerMeter;

// The popover's tuner panel: the note the microphone hears with its cents, frequency and meter,
// the button that starts and stops listening, and the reference tone's note menu and button.
// It keeps nothing itself and redraws from the tuner's properties whenever one changes. Main
// thread only; the tuner must outlive the panel, whose parent owns it; it keeps back. Throws
// nothing but std::bad_alloc.
class TunerPanel : public SidePanelFrame {
    Q_OBJECT
public:
    TunerPanel(tuner::Tuner& tuner, std::function<void()> back, QWidget* parent = nullptr);

    QLabel* noteLabel() const { return note_; }
    QLabel* centsLabel() const { return cents_; }
    QLabel* frequencyLabel() const { return frequency_; }
    TunerMeter* meter() const { return meter_; }
    PanelButton* listenButton() const { return listen_; }
    QComboBox* noteMenu() const { return noteMenu_; }
    PanelButton* referenceButton() const { return reference_; }

    // The cents as shown: a plus sign before a positive value, a negative one carries its minus.
    static QString centsText(qint64 cents);

private:
    QWidget* buildReading();
    QWidget* buildReference();
    void refreshReading();
    void refreshListening();
    void refreshReference();

    tuner::Tuner& tuner_;
    QLabel* note_;
    QLabel* cents_;
    QLabel* frequency_;
    TunerMeter* meter_;
    PanelButton* listen_;
    QComboBox* noteMenu_;
    PanelButton* reference_;
};

} // namespace zivra::app
