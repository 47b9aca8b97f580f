#include "app/LabeledToggle.h"
#include "app/SegmentedControl.h"
#include "app/SliderRow.h"
#include "app/ToggleSwitch.h"
#include "app/VocalSection.h"
#include "tests/app/AppTestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <limits>

namespace zivra::app {

class VocalControlsTest : public AppTest {
protected:
    VocalSection& section() {
        if (!section_) {
            section_ = std::make_unique<VocalSection>(engine());
            for (auto signal :
                 {&audio::ZivraAudio::vocalMonoChanged, &audio::ZivraAudio::vocalKaraokeChanged}) {
                QObject::connect(&engine(), signal, section_.get(), &VocalSection::refresh);
            }
            QObject::connect(&engine(), &audio::ZivraAudio::removeVocalsEnabledChanged,
                             section_.get(), &VocalSection::refresh);
            QObject::connect(&engine(), &audio::ZivraAudio::vocalRemovalModeChanged, section_.get(),
                             &VocalSection::refresh);
            section_->show();
        }
        return *section_;
    }

    int checkedSegments() {
        int checked = 0;
        for (int i = 0; i < 4; ++i) {
            checked += section().picker()->segment(i)->isChecked() ? 1 : 0;
        }
        return checked;
    }

    std::unique_ptr<VocalSection> section_;
};

TEST_F(VocalControlsTest, SwitchingOnFromOffSelectsKaraoke) {
    EXPECT_FALSE(section().controls()->isVisible());
    click(section().removeVocals()->toggle());
    EXPECT_TRUE(engine().removeVocalsEnabled());
    EXPECT_EQ(engine().vocalRemovalMode(), audio::VocalRemovalMode::karaoke);
    EXPECT_TRUE(section().controls()->isVisible());
    EXPECT_EQ(section().picker()->segment(0)->text(), "Karaoke");
    EXPECT_TRUE(section().picker()->segment(0)->isChecked());
    EXPECT_EQ(checkedSegments(), 1);
    EXPECT_FALSE(section().blendSliders()->isVisible());
}

TEST_F(VocalControlsTest, PickerOffersFourModesInOrderAndSetsTheChosenOne) {
    click(section().removeVocals()->toggle());
    QStringList titles;
    for (int i = 0; i < 4; ++i) {
        titles << section().picker()->segment(i)->text();
    }
    EXPECT_EQ(titles, (QStringList{"Karaoke", "Mono", "Aggressive", "Custom"}));
    click(section().picker()->segment(1));
    EXPECT_EQ(engine().vocalRemovalMode(), audio::VocalRemovalMode::mono);
    EXPECT_EQ(engine().vocalMono(), 1.0f);
    EXPECT_TRUE(section().picker()->segment(1)->isChecked());
    EXPECT_EQ(checkedSegments(), 1);
    click(section().picker()->segment(2));
    EXPECT_EQ(engine().vocalRemovalMode(), audio::VocalRemovalMode::aggressive);
    EXPECT_EQ(checkedSegments(), 1);
}

TEST_F(VocalControlsTest, OffAndWideShowNoSelectedSegment) {
    click(section().removeVocals()->toggle());
    engine().setVocalRemovalMode(audio::VocalRemovalMode::wide);
    EXPECT_EQ(checkedSegments(), 0);
    engine().setVocalRemovalMode(audio::VocalRemovalMode::off);
    EXPECT_EQ(checkedSegments(), 0);
    EXPECT_TRUE(section().controls()->isVisible());
    click(section().picker()->segment(0));
    EXPECT_EQ(engine().vocalRemovalMode(), audio::VocalRemovalMode::karaoke);
}

TEST_F(VocalControlsTest, BlendSlidersAppearOnlyInCustomAndWriteTheEngine) {
    click(section().removeVocals()->toggle());
    click(section().picker()->segment(3));
    EXPECT_EQ(engine().vocalRemovalMode(), audio::VocalRemovalMode::custom);
    ASSERT_TRUE(section().blendSliders()->isVisible());
    section().monoSlider()->slider()->setValue(400);
    EXPECT_FLOAT_EQ(engine().vocalMono(), 0.4f);
    EXPECT_EQ(section().monoSlider()->percentLabel()->text(), "40%");
    section().karaokeSlider()->slider()->setValue(1000);
    EXPECT_FLOAT_EQ(engine().vocalKaraoke(), 1.0f);
    EXPECT_EQ(section().karaokeSlider()->percentLabel()->text(), "100%");
    click(section().picker()->segment(0));
    EXPECT_FALSE(section().blendSliders()->isVisible());
}

TEST_F(VocalControlsTest, SwitchingOffHidesTheControlsAndResetsTheMode) {
    click(section().removeVocals()->toggle());
    click(section().removeVocals()->toggle());
    EXPECT_FALSE(engine().removeVocalsEnabled());
    EXPECT_EQ(engine().vocalRemovalMode(), audio::VocalRemovalMode::off);
    EXPECT_FALSE(section().controls()->isVisible());
}

TEST(SliderRowPercent, TruncatesTowardZeroAndNeverFails) {
    EXPECT_EQ(SliderRow::percentText(0.999f), "99%");
    EXPECT_EQ(SliderRow::percentText(1.0f), "100%");
    EXPECT_EQ(SliderRow::percentText(0.0f), "0%");
    EXPECT_EQ(SliderRow::percentText(0.29f), "29%");
    EXPECT_EQ(SliderRow::percentText(-0.019f), "-1%");
    EXPECT_EQ(SliderRow::percentText(std::numeric_limits<float>::quiet_NaN()), "--%");
    EXPECT_EQ(SliderRow::percentText(std::numeric_limits<float>::infinity()), "--%");
    EXPECT_EQ(SliderRow::percentText(1e30f), "--%");
    EXPECT_EQ(SliderRow::percentText(1e7f), "1000000000%");
}

} // namespace zivra::app
