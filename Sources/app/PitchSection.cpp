#include "app/PitchSection.h"

#include "app/LabeledToggle.h"
#include "app/PitchLogic.h"
#include "app/Style.h"
#include "app/ToggleSwitch.h"
#include "audio/ZivraAudio.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace zivra::app {
namespace {

QPushButton* stepButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setFont(systemFont(15, QFont::DemiBold));
    button->setFixedSize(26 + 12, 26 + 4);
    button->setStyleSheet(borderedButtonStyle(zivraTeal()) +
                          QStringLiteral("QPushButton { padding: 0px; }"));
    return button;
}

} // namespace

PitchSection::PitchSection(audio::ZivraAudio& audio, QWidget* parent)
    : QWidget(parent), audio_(audio),
      changePitch_(new LabeledToggle(QStringLiteral("Change pitch"),
                                     {[&audio] { return audio.pitchEnabled(); },
                                      [&audio](bool on) { audio.setPitchEnabled(on); }},
                                     this)),
      controls_(new QWidget(this)), display_(new QLabel(controls_)),
      slider_(new QSlider(Qt::Horizontal, controls_)), minus_(stepButton("-", controls_)),
      plus_(stepButton("+", controls_)), snap_(new ToggleSwitch(controls_)) {
    auto* section = new QVBoxLayout(this);
    section->setContentsMargins(0, 0, 0, 0);
    section->setSpacing(10);
    section->addWidget(changePitch_);
    section->addWidget(controls_);

    auto* rows = new QVBoxLayout(controls_);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(8);

    auto* valueRow = new QHBoxLayout;
    valueRow->setSpacing(4);
    auto* title = new QLabel(QStringLiteral("Pitch"), controls_);
    title->setFont(systemFont(13, QFont::Medium));
    valueRow->addWidget(title, 0, Qt::AlignTop);
    valueRow->addStretch(1);
    auto* valueColumn = new QVBoxLayout;
    valueColumn->setSpacing(0);
    display_->setFont(systemFont(15, QFont::DemiBold));
    display_->setAlignment(Qt::AlignRight);
    auto* unit = new QLabel(QStringLiteral("semitones"), controls_);
    unit->setFont(systemFont(10));
    unit->setAlignment(Qt::AlignRight);
    setTextColor(unit, secondaryTextColor());
    valueColumn->addWidget(display_);
    valueColumn->addWidget(unit);
    // "Pitch" stands on the baseline of the larger value beside it.
    const int lift = QFontMetrics(display_->font()).ascent() - QFontMetrics(title->font()).ascent();
    title->setContentsMargins(0, std::max(0, lift), 0, 0);
    valueRow->addLayout(valueColumn);
    rows->addLayout(valueRow);

    auto* sliderRow = new QHBoxLayout;
    sliderRow->setSpacing(8);
    slider_->setRange(int(minimumPitchCents), int(maximumPitchCents));
    slider_->setStyleSheet(tintedSliderStyle(zivraTeal()));
    sliderRow->addWidget(slider_, 1);
    sliderRow->addWidget(minus_);
    sliderRow->addWidget(plus_);
    rows->addLayout(sliderRow);

    auto* snapRow = new QHBoxLayout;
    snapRow->addStretch(1);
    auto* snapLabel = new QLabel(QStringLiteral("Snap to semitones"), controls_);
    snapLabel->setFont(systemFont(11));
    snapRow->addWidget(snapLabel);
    snapRow->addWidget(snap_);
    rows->addLayout(snapRow);

    connect(slider_, &QSlider::valueChanged, this, &PitchSection::sliderMoved);
    connect(minus_, &QPushButton::clicked, this,
            [this] { adjustPitch(audio_, -pitchStep(audio_.pitchControlMode())); });
    connect(plus_, &QPushButton::clicked, this,
            [this] { adjustPitch(audio_, pitchStep(audio_.pitchControlMode())); });
    connect(snap_, &ToggleSwitch::clicked, this,
            [this](bool on) { setSnapToSemitones(audio_, on); });
    refresh();
}

void PitchSection::sliderMoved(int position) {
    // The slider moves in steps counted from its lower bound.
    const float step = pitchStep(audio_.pitchControlMode());
    const float value =
        minimumPitchCents + std::round((position - minimumPitchCents) / step) * step;
    if (value != audio_.pitchCents()) {
        audio_.setPitchCents(value);
    } else {
        // The knob rests on whole steps, also where the pitch stays as it was.
        refresh();
    }
}

void PitchSection::refresh() {
    changePitch_->refresh();
    controls_->setVisible(audio_.pitchEnabled());
    const audio::PitchControlMode mode = audio_.pitchControlMode();
    display_->setText(pitchDisplayValue(audio_.pitchCents(), mode));
    const QSignalBlocker blocker(slider_);
    slider_->setSingleStep(int(pitchStep(mode)));
    slider_->setPageStep(int(pitchStep(mode)));
    const float cents = audio_.pitchCents();
    slider_->setValue(std::isfinite(cents) ? int(std::lround(cents)) : 0);
    snap_->setChecked(mode == audio::PitchControlMode::semitones);
}

} // namespace zivra::app
