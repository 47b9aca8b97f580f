#include "app/VocalSection.h"

#include "app/LabeledToggle.h"
#include "app/SegmentedControl.h"
#include "app/SliderRow.h"
#include "app/Style.h"
#include "audio/ZivraAudio.h"

#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace zivra::app {
namespace {

QStringList pickerTitles() {
    QStringList titles;
    for (audio::VocalRemovalMode mode : VocalSection::pickerModes) {
        titles.append(audio::rawValue(mode));
    }
    return titles;
}

} // namespace

VocalSection::VocalSection(audio::ZivraAudio& audio, QWidget* parent)
    : QWidget(parent), audio_(audio),
      removeVocals_(new LabeledToggle(QStringLiteral("Remove vocals"),
                                      {[&audio] { return audio.removeVocalsEnabled(); },
                                       [&audio](bool on) { audio.setRemoveVocalsEnabled(on); }},
                                      this)),
      controls_(new QWidget(this)),
      picker_(new SegmentedControl(pickerTitles(), zivraTeal(), controls_)),
      blend_(new QWidget(controls_)),
      mono_(new SliderRow(QStringLiteral("Mono"),
                          {[&audio] { return audio.vocalMono(); },
                           [&audio](float value) { audio.setVocalMono(value); }},
                          blend_)),
      karaoke_(new SliderRow(QStringLiteral("Karaoke"),
                             {[&audio] { return audio.vocalKaraoke(); },
                              [&audio](float value) { audio.setVocalKaraoke(value); }},
                             blend_)) {
    auto* section = new QVBoxLayout(this);
    section->setContentsMargins(0, 0, 0, 0);
    section->setSpacing(10);
    section->addWidget(removeVocals_);
    section->addWidget(controls_);

    auto* column = new QVBoxLayout(controls_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    auto* title = new QLabel(QStringLiteral("Vocal mode"), controls_);
    title->setFont(systemFont(13, QFont::Medium));
    column->addWidget(title);
    column->addWidget(picker_);
    column->addWidget(blend_);

    auto* sliders = new QVBoxLayout(blend_);
    sliders->setContentsMargins(0, 0, 0, 0);
    sliders->setSpacing(10);
    sliders->addWidget(mono_);
    sliders->addWidget(karaoke_);

    connect(picker_, &SegmentedControl::segmentChosen, this,
            [this](int index) { audio_.setVocalRemovalMode(pickerModes[index]); });
    refresh();
}

void VocalSection::refresh() {
    removeVocals_->refresh();
    controls_->setVisible(audio_.removeVocalsEnabled());
    const audio::VocalRemovalMode mode = audio_.vocalRemovalMode();
    const auto offered = std::find(pickerModes.begin(), pickerModes.end(), mode);
    picker_->setSelectedIndex(offered == pickerModes.end() ? -1
                                                           : int(offered - pickerModes.begin()));
    blend_->setVisible(mode == audio::VocalRemovalMode::custom);
    mono_->refresh();
    karaoke_->refresh();
}

} // namespace zivra::app
