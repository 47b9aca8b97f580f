#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QSlider;
namespace zivra::audio {
class ZivraAudio;
}

namespace zivra::app {

class LabeledToggle;
class ToggleSwitch;

// "Change pitch" and, while it is on, the pitch value, the slider with its "-" and "+" buttons,
// and "Snap to semitones". Main thread only; the engine must outlive the section, which its
// parent owns; the getters lend children it owns. Throws nothing but std::bad_alloc.
class PitchSection : public QWidget {
    Q_OBJECT
public:
    explicit PitchSection(audio::ZivraAudio& audio, QWidget* parent = nullptr);

    // Shows the engine's current values.
    void refresh();

    LabeledToggle* changePitch() const { return changePitch_; }
    QWidget* controls() const { return controls_; }
    QLabel* displayValue() const { return display_; }
    QSlider* slider() const { return slider_; }
    QPushButton* minusButton() const { return minus_; }
    QPushButton* plusButton() const { return plus_; }
    ToggleSwitch* snapToggle() const { return snap_; }

private:
    void sliderMoved(int position);

    audio::ZivraAudio& audio_;
    LabeledToggle* changePitch_;
    QWidget* controls_;
    QLabel* display_;
    QSlider* slider_;
    QPushButton* minus_;
    QPushButton* plus_;
    ToggleSwitch* snap_;
};

} // namespace zivra::app
