#include "app/WaveformCard.h"
#include "app/WaveformGeometry.h"
#include "app/WaveformView.h"
#include "tests/app/AppTestSupport.h"
#include "tests/audio/ZivraAudioTestAccess.h"

namespace zivra::app {

TEST(WaveformGeometry, BarsFillTheWidthOfTheCard) {
    const WaveformGeometry g = WaveformGeometry::compute({0.5f, 0.0f, 1.0f}, true, 28, 252, 52);
    EXPECT_NEAR(g.barWidth, 171.0 / 28, 1e-9);
    EXPECT_DOUBLE_EQ(g.offsetX, 0);
    ASSERT_EQ(g.heights.size(), 28);
    EXPECT_NEAR(g.heights[0], 25.1, 1e-9);
    EXPECT_DOUBLE_EQ(g.heights[1], 3.0);
    EXPECT_NEAR(g.heights[2], 47.2, 1e-9);
    EXPECT_DOUBLE_EQ(g.barX(0, 252), 0);
    EXPECT_NEAR(g.barX(27, 252) + g.barWidth, 252, 1e-9);
}

TEST(WaveformGeometry, InactiveBarsAreFlatWhateverTheSamples) {
    const WaveformGeometry g =
        WaveformGeometry::compute(QList<float>(28, 0.9f), false, 28, 252, 52);
    for (double h : g.heights) {
        EXPECT_DOUBLE_EQ(h, 2.0);
    }
}

TEST(WaveformGeometry, MissingSamplesAreSilentAndExtraOnesIgnored) {
    const WaveformGeometry few =
        WaveformGeometry::compute(QList<float>(20, 1.0f), true, 28, 252, 52);
    EXPECT_NEAR(few.heights[19], 47.2, 1e-9);
    for (int i = 20; i < 28; ++i) {
        EXPECT_DOUBLE_EQ(few.heights[i], 3.0);
    }
    const WaveformGeometry many =
        WaveformGeometry::compute(QList<float>(40, 0.5f), true, 28, 252, 52);
    EXPECT_EQ(many.heights.size(), 28);
}

TEST(WaveformGeometry, NegativeAndOversizedSamples) {
    const WaveformGeometry g = WaveformGeometry::compute({-1.0f, 3.0f}, true, 2, 100, 52);
    EXPECT_DOUBLE_EQ(g.heights[0], 3.0);
    EXPECT_NEAR(g.heights[1], 52 * 3 * 0.85 + 3, 1e-9);
}

TEST(WaveformGeometry, NarrowViewsKeepTwoPointBarsAndShiftLeftByHalfTheOverflow) {
    const WaveformGeometry g = WaveformGeometry::compute({}, true, 28, 100, 52);
    EXPECT_DOUBLE_EQ(g.barWidth, 2.0);
    // The row is 27 x 3 + 28 x 2 = 137 points wide.
    EXPECT_DOUBLE_EQ(g.offsetX, -18.5);
    EXPECT_DOUBLE_EQ(g.barX(27, 100) + g.barWidth, 100);
    const WaveformGeometry exact = WaveformGeometry::compute({}, true, 28, 137, 52);
    EXPECT_DOUBLE_EQ(exact.barWidth, 2.0);
    EXPECT_DOUBLE_EQ(exact.offsetX, 0);
}

TEST(WaveformGeometry, OneBarTakesTheWholeWidth) {
    const WaveformGeometry g = WaveformGeometry::compute({1.0f}, true, 1, 40, 20);
    EXPECT_DOUBLE_EQ(g.barWidth, 40);
    EXPECT_DOUBLE_EQ(g.barX(0, 40), 0);
}

class WaveformCardTest : public AppTest {};

TEST_F(WaveformCardTest, ActiveOnlyWhileRunningForPitchOrVocals) {
    WaveformCard card(engine());
    card.resize(280, WaveformCard::cardHeight);
    card.show();
    EXPECT_EQ(card.view()->height(), 52);
    EXPECT_FALSE(card.isActive());
    audio::ZivraAudioTestAccess::setIsEngineRunning(engine(), true);
    EXPECT_FALSE(card.isActive()) << "a running engine for a phone alone shows flat bars";
    audio::ZivraAudioTestAccess::setWaveformSamples(engine(), QList<float>(28, 1.0f));
    for (int i = 0; i < 28; ++i) {
        EXPECT_DOUBLE_EQ(card.view()->geometryForSize().heights[i], 2.0);
    }
    engine().setRemoveVocalsEnabled(true);
    audio::ZivraAudioTestAccess::setIsEngineRunning(engine(), true);
    EXPECT_TRUE(card.isActive());
    audio::ZivraAudioTestAccess::setWaveformSamples(engine(), QList<float>(28, 0.5f));
    EXPECT_NEAR(card.view()->geometryForSize().heights[5], 52 * 0.5 * 0.85 + 3, 1e-9);
    audio::ZivraAudioTestAccess::setIsEngineRunning(engine(), false);
    EXPECT_FALSE(card.isActive());
}

TEST_F(WaveformCardTest, BarsEaseToTheirNewHeightAndUnchangedBarsStayStill) {
    WaveformView view(3, Qt::red);
    view.resize(100, 52);
    view.show();
    view.setSamples({1.0f, 0.0f, 0.0f}, true);
    ASSERT_TRUE(eventually([&] { return view.displayedHeight(0) == 52 * 0.85 + 3; }));
    view.setSamples({0.0f, 0.0f, 0.0f}, true);
    // Bar 0 starts from where it stood and moves down; bars 1 and 2 did not change.
    EXPECT_GT(view.displayedHeight(0), 3.0);
    EXPECT_DOUBLE_EQ(view.displayedHeight(1), 3.0);
    ASSERT_TRUE(eventually([&] { return view.displayedHeight(0) == 3.0; }));
}

} // namespace zivra::app
