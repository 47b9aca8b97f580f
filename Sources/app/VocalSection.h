#pragma once

#include "audio/VocalRemovalMode.h"

#include <QWidget>

#include <array>

class ZivraAudio;

namespace zivra {

class LabeledToggle;
class SegmentedControl;
class SliderRow;

// "Remove vocals" and, while it is on, the vocal-mode picker and, in the custom mode, the two
// blend sliders.
class VocalSection : public QWidget {
    Q_OBJECT
public:
    // The modes the picker offers, in its order; "Off" and "Wide" are reached only by a preset or
    // a phone, and then no segment is selected.
    static constexpr std::array<VocalRemovalMode, 4> pickerModes = {
        VocalRemovalMode::karaoke, VocalRemovalMode::mono, VocalRemovalMode::aggressive,
        VocalRemovalMode::custom};

    explicit VocalSection(ZivraAudio& audio, QWidget* parent = nullptr);

    void refresh();

    LabeledToggle* removeVocals() const { return removeVocals_; }
    QWidget* controls() const { return controls_; }
    SegmentedControl* picker() const { return picker_; }
    QWidget* blendSliders() const { return blend_; }
    SliderRow* monoSlider() const { return mono_; }
    SliderRow* karaokeSlider() const { return karaoke_; }

private:
    ZivraAudio& audio_;
    LabeledToggle* removeVocals_;
    QWidget* controls_;
    SegmentedControl* picker_;
    QWidget* blend_;
    SliderRow* mono_;
    SliderRow* karaoke_;
};

} // namespace zivra
