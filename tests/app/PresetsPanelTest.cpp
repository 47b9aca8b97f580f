#include "app/PresetsPanel.h"
#include "tests/app/AppTestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

namespace zivra::app {

class PresetsPanelTest : public AppTest {
protected:
    PresetsPanel& panel() {
        if (!panel_) {
            panel_ = std::make_unique<PresetsPanel>(engine(), [this] { ++backs; });
            panel_->show();
        }
        return *panel_;
    }

    void save(const QString& name) {
        panel().nameField()->clear();
        QTest::keyClicks(panel().nameField(), name);
        click(panel().saveButton());
    }

    QStringList rowNames() {
        QStringList names;
        for (QWidget* row : panel().rows()) {
            names << row->findChild<QPushButton*>("loadPreset")->text();
        }
        return names;
    }

    bool highlighted(int row) { return !panel().rows()[row]->styleSheet().contains("transparent"); }

    int backs = 0;
    std::unique_ptr<PresetsPanel> panel_;
};

TEST_F(PresetsPanelTest, EmptyListShowsThePlaceholderAndSaveNeedsAName) {
    EXPECT_TRUE(panel().placeholder()->isVisible());
    EXPECT_EQ(panel().placeholder()->text(), "No presets yet.");
    EXPECT_EQ(panel().nameField()->placeholderText(), "Preset name");
    EXPECT_FALSE(panel().saveButton()->isEnabled());
    QTest::keyClicks(panel().nameField(), "  ");
    EXPECT_EQ(engine().newPresetName(), "  ");
    EXPECT_TRUE(panel().saveButton()->isEnabled());
    QTest::keyClick(panel().nameField(), Qt::Key_Return);
    EXPECT_TRUE(engine().presets().isEmpty()) << "Return ends the edit without saving";
    click(panel().saveButton());
    ASSERT_EQ(engine().presets().size(), 1);
    EXPECT_EQ(engine().presets()[0].name, "  ");
    EXPECT_EQ(engine().newPresetName(), "");
    EXPECT_EQ(panel().nameField()->text(), "");
    EXPECT_FALSE(panel().saveButton()->isEnabled());
    EXPECT_FALSE(panel().placeholder()->isVisible());
    click(panel().findChild<QPushButton*>("backButton"));
    EXPECT_EQ(backs, 1);
}

TEST_F(PresetsPanelTest, SavingAppendsOrReplacesInPlace) {
    save("Verse");
    save("Chorus");
    EXPECT_EQ(rowNames(), (QStringList{"Verse", "Chorus"}));
    click(panel().rows()[0]->findChild<QPushButton*>("loadPreset"));
    ASSERT_TRUE(eventually([&] { return panel().rows().size() == 2 && highlighted(0); }));
    EXPECT_FALSE(highlighted(1));

    engine().setPitchCents(300);
    save("Verse");
    EXPECT_EQ(rowNames(), (QStringList{"Verse", "Chorus"}));
    EXPECT_EQ(engine().presets()[0].pitchCents, 300);
    EXPECT_FALSE(highlighted(0)) << "the replaced preset has a new identity";
    save("verse");
    save("R&B");
    EXPECT_EQ(rowNames(), (QStringList{"Verse", "Chorus", "verse", "R&&B"}));
    EXPECT_EQ(engine().presets()[3].name, "R&B");
}

TEST_F(PresetsPanelTest, ClickingARowAppliesItAndDeletingClearsTheHighlight) {
    engine().setPitchEnabled(true);
    engine().setPitchCents(-200);
    save("Low");
    engine().setPitchCents(500);
    save("High");
    click(panel().rows()[0]->findChild<QPushButton*>("loadPreset"));
    EXPECT_EQ(engine().pitchCents(), -200);
    EXPECT_EQ(engine().selectedPresetID(), engine().presets()[0].id);
    EXPECT_TRUE(highlighted(0));

    click(panel().rows()[1]->findChild<QToolButton*>("deletePreset"));
    EXPECT_EQ(rowNames(), (QStringList{"Low"}));
    EXPECT_TRUE(highlighted(0));
    click(panel().rows()[0]->findChild<QToolButton*>("deletePreset"));
    EXPECT_EQ(engine().selectedPresetID(), std::nullopt);
    EXPECT_TRUE(rowNames().isEmpty());
    EXPECT_TRUE(panel().placeholder()->isVisible());
}

TEST_F(PresetsPanelTest, AHalfTypedNameLivesInTheEngine) {
    QTest::keyClicks(panel().nameField(), "Bri");
    panel_.reset();
    EXPECT_EQ(panel().nameField()->text(), "Bri");
    EXPECT_TRUE(panel().saveButton()->isEnabled());
}

} // namespace zivra::app
