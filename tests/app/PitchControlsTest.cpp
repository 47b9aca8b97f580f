#include "app/LabeledToggle.h"
#include "app/PitchLogic.h"
#include "app/PitchSection.h"
#include "app/ToggleSwitch.h"
#include "tests/app/AppTestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>

namespace zivra::app {

class PitchControlsTest : public AppTest {
protected:
    PitchSection& section() {
        if (!section_) {
            section_ = std::make_unique<PitchSection>(engine());
            QObject::connect(&engine(), &audio::ZivraAudio::pitchCentsChanged, section_.get(),
                             &PitchSection::refresh);
            QObject::connect(&engine(), &audio::ZivraAudio::pitchEnabledChanged, section_.get(),
                             &PitchSection::refresh);
            QObject::connect(&engine(), &audio::ZivraAudio::pitchControlModeChanged, section_.get(),
                             &PitchSection::refresh);
            section_->show();
        }
        return *section_;
    }

    // Switches "Change pitch" on with a click, as the user does before using the controls.
    void enablePitch() {
        click(section().changePitch()->toggle());
        ASSERT_TRUE(engine().pitchEnabled());
        ASSERT_TRUE(section().controls()->isVisible());
    }

    std::unique_ptr<PitchSection> section_;
};

TEST_F(PitchControlsTest, ChangePitchShowsAndHidesTheControlsAndKeepsThePitch) {
    EXPECT_FALSE(section().controls()->isVisible());
    enablePitch();
    click(section().plusButton());
    EXPECT_EQ(engine().pitchCents(), 100);
    click(section().changePitch()->toggle());
    EXPECT_FALSE(engine().pitchEnabled());
    EXPECT_FALSE(section().controls()->isVisible());
    EXPECT_EQ(engine().pitchCents(), 100);
    click(section().changePitch()->toggle());
    EXPECT_EQ(section().displayValue()->text(), "+1");
}

TEST_F(PitchControlsTest, StepButtonsClampAndStillAssignAtTheEnds) {
    enablePitch();
    engine().setPitchCents(1200);
    QSignalSpy assigned(&engine(), &audio::ZivraAudio::pitchCentsChanged);
    const int before = broadcasts;
    click(section().plusButton());
    EXPECT_EQ(engine().pitchCents(), 1200);
    EXPECT_EQ(assigned.count(), 1);
    EXPECT_GT(broadcasts, before);

    click(section().snapToggle());
    ASSERT_EQ(engine().pitchControlMode(), audio::PitchControlMode::cents);
    engine().setPitchCents(1195);
    click(section().plusButton());
    EXPECT_EQ(engine().pitchCents(), 1200);
    engine().setPitchCents(-1195);
    click(section().minusButton());
    EXPECT_EQ(engine().pitchCents(), -1200);
}

TEST_F(PitchControlsTest, SemitoneStepsRoundHalvesAwayFromZero) {
    enablePitch();
    engine().setPitchCents(50);
    click(section().plusButton());
    EXPECT_EQ(engine().pitchCents(), 200);
    engine().setPitchCents(-50);
    click(section().minusButton());
    EXPECT_EQ(engine().pitchCents(), -200);
    click(section().minusButton());
    EXPECT_EQ(engine().pitchCents(), -300);
}

TEST_F(PitchControlsTest, CentStepsAreTenCents) {
    enablePitch();
    click(section().snapToggle());
    click(section().plusButton());
    click(section().plusButton());
    EXPECT_FLOAT_EQ(engine().pitchCents(), 20);
    click(section().minusButton());
    EXPECT_FLOAT_EQ(engine().pitchCents(), 10);
    EXPECT_EQ(section().slider()->singleStep(), 10);
}

TEST_F(PitchControlsTest, DisplayReadsSemitonesWithTheModesPrecision) {
    EXPECT_EQ(pitchDisplayValue(250, audio::PitchControlMode::cents), "+2.5");
    EXPECT_EQ(pitchDisplayValue(-300, audio::PitchControlMode::semitones), "-3");
    EXPECT_EQ(pitchDisplayValue(0, audio::PitchControlMode::cents), "+0.0");
    EXPECT_EQ(pitchDisplayValue(0, audio::PitchControlMode::semitones), "+0");
    EXPECT_EQ(pitchDisplayValue(-0.0f, audio::PitchControlMode::semitones), "+0");
    EXPECT_EQ(pitchDisplayValue(1200, audio::PitchControlMode::semitones), "+12");
    EXPECT_EQ(pitchDisplayValue(-1190, audio::PitchControlMode::cents), "-11.9");

    enablePitch();
    click(section().snapToggle());
    engine().setPitchCents(250);
    EXPECT_EQ(section().displayValue()->text(), "+2.5");
}

TEST_F(PitchControlsTest, SnappingOnRoundsThePitchAndOffOnlyChangesTheMode) {
    enablePitch();
    click(section().snapToggle());
    ASSERT_EQ(engine().pitchControlMode(), audio::PitchControlMode::cents);
    engine().setPitchCents(250);
    click(section().snapToggle());
    EXPECT_EQ(engine().pitchControlMode(), audio::PitchControlMode::semitones);
    EXPECT_EQ(engine().pitchCents(), 300);
    EXPECT_TRUE(section().snapToggle()->isChecked());

    QSignalSpy assigned(&engine(), &audio::ZivraAudio::pitchCentsChanged);
    const int before = broadcasts;
    click(section().snapToggle());
    EXPECT_EQ(engine().pitchControlMode(), audio::PitchControlMode::cents);
    EXPECT_EQ(engine().pitchCents(), 300);
    EXPECT_EQ(assigned.count(), 0);
    EXPECT_EQ(broadcasts, before);
    EXPECT_EQ(section().slider()->singleStep(), 10);

    engine().setPitchCents(-250);
    click(section().snapToggle());
    EXPECT_EQ(engine().pitchCents(), -300);
}

TEST_F(PitchControlsTest, SliderQuantisesToTheStepFromItsLowerBound) {
    enablePitch();
    section().slider()->setValue(149);
    EXPECT_EQ(engine().pitchCents(), 100);
    section().slider()->setValue(151);
    EXPECT_EQ(engine().pitchCents(), 200);
    section().slider()->setValue(230);
    EXPECT_EQ(engine().pitchCents(), 200);
    EXPECT_EQ(section().slider()->value(), 200) << "the knob rests on a whole step";
    click(section().snapToggle());
    section().slider()->setValue(-1194);
    EXPECT_FLOAT_EQ(engine().pitchCents(), -1190);
    EXPECT_EQ(section().displayValue()->text(), "-11.9");
}

TEST_F(PitchControlsTest, PitchTitleStandsOnTheValuesBaseline) {
    enablePitch();
    QLabel* title = nullptr;
    for (QLabel* label : section().controls()->findChildren<QLabel*>()) {
        if (label->text() == "Pitch") {
            title = label;
        }
    }
    ASSERT_NE(title, nullptr);
    QLabel* value = section().displayValue();
    const auto baseline = [&](QLabel* label) {
        const QPoint top = label->mapTo(section().controls(), label->contentsRect().topLeft());
        return top.y() + QFontMetrics(label->font()).ascent();
    };
    EXPECT_EQ(baseline(title), baseline(value));
}

} // namespace zivra::app
