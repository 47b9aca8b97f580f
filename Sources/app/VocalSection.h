#pragma once

#include "audio/VocalRemovalMode.h"

#include <QWidget>

#include <array>

namespace zivra::audio {
class ZivraAudio;
}

namespace zivra::app {

class LabeledToggle;
class SegmentedControl;
class SliderRow;

// "Remove vocals" and, while it is on, the vocal-mode picker and, in the custom mode, the two
// blend sliders. Main thread only; the engine must outlive the section, which its parent
// owns; the getters lend children it owns. Throws nothing but std::bad_alloc.
class VocalSection : public QWidget {
    Q_OBJECT
public:
    // The modes the picker offers, in its order; "Off" and "Wide" are reached only by a preset or
    // a phone, and then no segment is selected.
    static constexpr std::array<audio::VocalRemovalMode, 4> pickerModes = {
        audio::VocalRemovalMode::karaoke, audio::VocalRemovalMode::mono,
        audio::VocalRemovalMode::aggressive, audio::VocalRemovalMode::custom};

    explicit VocalSection(audio::ZivraAudio& audio, QWidget* parent = nullptr);

    void refresh();

    LabeledToggle* removeVocals() const { return removeVocals_; }
    QWidget* controls() const { return controls_; }
    SegmentedControl* picker() const { return picker_; }
    QWidget* blendSliders() const { return blend_; }
    SliderRow* monoSlider() const { return mono_; }
    SliderRow* karaokeSlider() const { return karaoke_; }

private:
    audio::ZivraAudio& audio_;
    LabeledToggle* removeVocals_;
    QWidget* controls_;
    SegmentedControl* picker_;
    QWidget* blend_;
    SliderRow* mono_;
    SliderRow* karaoke_;
};

} // namespace zivra::app
