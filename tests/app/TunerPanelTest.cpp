// The tuner panel and its meter over a tuner whose microphone the test feeds.
#include "app/TunerPanel.h"

#include "app/MenuView.h"
#include "app/PanelButton.h"
#include "app/Style.h"
#include "app/TunerMeter.h"
#include "platform/sound/SoundError.h"
#include "tests/app/AppTestSupport.h"
#include "tuner/Tuner.h"

#include <QComboBox>
#include <QLabel>
#include <QToolButton>

#include <cmath>
#include <numbers>

namespace zivra::app {
namespace {

// A microphone whose buffers come from the test, and a player that only counts; a silent
// server keeps the microphone shut until the test answers for it.
struct Devices {
    platform::sound::MicrophoneBlock block;
    int playersSounding = 0;
    bool serverSilent = false;
    std::vector<std::function<void()>> waiting;
};

class TestMicrophone : public platform::sound::Microphone {
public:
    explicit TestMicrophone(Devices& devices) : devices_(devices) {}
    ~TestMicrophone() override { stop(); }
    void start(std::uint32_t, platform::sound::MicrophoneBlock block) override {
        devices_.block = std::move(block);
    }
    void stop() override { devices_.block = nullptr; }

private:
    Devices& devices_;
};

class TestPlayer : public platform::sound::TonePlayer {
public:
    explicit TestPlayer(Devices& devices) : devices_(devices) {}
    ~TestPlayer() override { stop(); }
    void play() override { playing_ = true, ++devices_.playersSounding; }
    void stop() override {
        if (std::exchange(playing_, false)) {
            --devices_.playersSounding;
        }
    }

private:
    Devices& devices_;
    bool playing_ = false;
};

class TunerPanelTest : public AppTest {
protected:
    // One microphone buffer of a sine at 440 Hz moved by cents, then its analysis.
    void hear(double cents) {
        ASSERT_TRUE(devices.block) << "the microphone is not open";
        std::vector<float> samples(4096);
        const double frequency = 440 * std::exp2(cents / 1200);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = static_cast<float>(std::sin(2 * std::numbers::pi * frequency * i / 48000));
        }
        const float* channels[] = {samples.data()};
        devices.block(platform::sound::PcmBufferView{channels, 1, 4096, 48000});
        QCoreApplication::processEvents();
    }

    void listen() {
        click(panel.listenButton());
        ASSERT_TRUE(eventually([&] { return tuner.isDetecting(); }));
    }

    QColor textColor(QWidget* widget) { return widget->palette().color(QPalette::WindowText); }
    QColor primary() { return panel.palette().color(QPalette::WindowText); }

    Devices devices;
    tuner::Tuner tuner{{[](auto completion) { completion(true); },
                        [this] {
                            if (devices.serverSilent) {
                                throw platform::sound::ServerUnanswered(-1, "Timeout");
                            }
                            return std::make_unique<TestMicrophone>(devices);
                        },
                        [this](std::span<const std::uint8_t>, float) {
                            return std::make_unique<TestPlayer>(devices);
                        },
                        [this](auto answered) { devices.waiting.push_back(answered); }}};
    TunerPanel panel{tuner, [] {}};
};

TEST_F(TunerPanelTest, BeforeAnyReadingEverythingRestsInTeal) {
    panel.show();
    EXPECT_EQ(panel.noteLabel()->text(), QStringLiteral("\u2014"));
    EXPECT_EQ(textColor(panel.noteLabel()), zivraTeal());
    EXPECT_EQ(panel.centsLabel()->text(), "0");
    EXPECT_EQ(textColor(panel.centsLabel()), zivraTeal());
    EXPECT_EQ(panel.frequencyLabel()->text(), "0.0 Hz");
    EXPECT_EQ(panel.meter()->pointerColor(), zivraTeal());
    EXPECT_DOUBLE_EQ(panel.meter()->pointerCenter().x(), panel.meter()->tickX(0));
    EXPECT_EQ(panel.listenButton()->title(), "Start listening");
    EXPECT_EQ(panel.referenceButton()->title(), "Play reference");
    EXPECT_EQ(panel.noteMenu()->currentText(), "A4");
    EXPECT_EQ(panel.noteMenu()->count(), 84);
}

TEST_F(TunerPanelTest, ShowsTheReadingWithSignedCentsAndOneDecimalOfFrequency) {
    panel.show();
    listen();
    EXPECT_EQ(panel.noteLabel()->text(), QStringLiteral("Listen\u2026"));
    EXPECT_EQ(panel.listenButton()->title(), "Stop listening");

    hear(0);
    EXPECT_EQ(panel.noteLabel()->text(), "A4");
    EXPECT_EQ(panel.frequencyLabel()->text(), "440.0 Hz");
    EXPECT_EQ(panel.centsLabel()->text(), "0");
    EXPECT_EQ(textColor(panel.centsLabel()), zivraTeal());

    hear(6);
    EXPECT_EQ(panel.centsLabel()->text(), "+6");
    EXPECT_EQ(textColor(panel.centsLabel()), primary());
    EXPECT_EQ(panel.meter()->pointerColor(), primary());

    hear(-13);
    EXPECT_EQ(panel.centsLabel()->text(), "-13");
    EXPECT_EQ(textColor(panel.centsLabel()), primary());

    hear(-4);
    EXPECT_EQ(panel.meter()->cents(), -4);
    EXPECT_EQ(panel.meter()->pointerColor(), zivraTeal());
}

TEST_F(TunerPanelTest, WhileTheServerIsSilentItShowsListeningAndTheButtonStopsTheWait) {
    devices.serverSilent = true;
    panel.show();
    listen();
    EXPECT_EQ(panel.noteLabel()->text(), QStringLiteral("Listen\u2026"));
    EXPECT_EQ(panel.listenButton()->title(), "Stop listening");
    click(panel.listenButton());
    ASSERT_TRUE(eventually([&] { return !tuner.isDetecting(); }));
    devices.serverSilent = false;
    for (const auto& answered : std::exchange(devices.waiting, {})) {
        answered();
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(devices.block) << "the microphone opened after the stop";
}

TEST_F(TunerPanelTest, TheMeterPointerStandsAtItsCentsAndStopsAtTheEnds) {
    TunerMeter meter(0, 50, zivraTeal());
    meter.resize(280, TunerMeter::meterHeight);
    EXPECT_EQ(meter.height(), 34);
    EXPECT_DOUBLE_EQ(meter.tickX(-50), 0);
    EXPECT_DOUBLE_EQ(meter.tickX(50), 280);
    const struct {
        qint64 cents;
        double x;
        bool teal;
    } cases[] = {{-50, 0, false},   {50, 280, false},  {-80, 0, false},
                 {300, 280, false}, {25, 210, false},  {5, 154, true},
                 {-5, 126, true},   {6, 156.8, false}, {-6, 123.2, false}};
    for (const auto& expected : cases) {
        meter.setCents(expected.cents);
        EXPECT_DOUBLE_EQ(meter.pointerCenter().x(), expected.x) << expected.cents;
        EXPECT_DOUBLE_EQ(meter.pointerCenter().y(), 17 + 8) << expected.cents;
        EXPECT_EQ(meter.pointerColor() == zivraTeal(), expected.teal) << expected.cents;
    }
}

TEST_F(TunerPanelTest, TheTuningForkOpensThePanelOnTheGivenTunerAndBackLeavesTheMicrophoneOpen) {
    MenuView view(engine());
    view.tuner = [this]() -> tuner::Tuner& { return tuner; };
    view.show();
    EXPECT_EQ(view.panel(MenuView::Panel::tuner), nullptr);
    click(view.tunerButton());
    auto* shown = qobject_cast<TunerPanel*>(view.panel(MenuView::Panel::tuner));
    ASSERT_NE(shown, nullptr);
    ASSERT_TRUE(eventually([&] { return shown->isVisible(); }));
    click(shown->listenButton());
    ASSERT_TRUE(eventually([&] { return tuner.isDetecting(); }));

    click(shown->findChild<QPushButton*>(QStringLiteral("backButton")));
    EXPECT_TRUE(eventually([&] { return !shown->isVisible(); }));
    EXPECT_TRUE(devices.block) << "the microphone closed";
    click(view.tunerButton());
    ASSERT_TRUE(eventually([&] { return shown->isVisible(); }));
    EXPECT_EQ(shown->listenButton()->title(), "Stop listening");
}

TEST_F(TunerPanelTest, TheNoteMenuChoosesTheNextToneWithoutChangingTheSoundingOne) {
    panel.show();
    listen();
    click(panel.referenceButton());
    EXPECT_TRUE(tuner.isReferencePlaying());
    EXPECT_FALSE(tuner.isDetecting());
    EXPECT_EQ(panel.listenButton()->title(), "Start listening");
    EXPECT_EQ(panel.referenceButton()->title(), "Stop reference");

    panel.noteMenu()->setCurrentIndex(panel.noteMenu()->findText("C4"));
    emit panel.noteMenu()->activated(panel.noteMenu()->currentIndex());
    EXPECT_EQ(tuner.referenceNote(), "C4");
    EXPECT_EQ(devices.playersSounding, 1);
    EXPECT_EQ(panel.referenceButton()->title(), "Stop reference");

    click(panel.referenceButton());
    EXPECT_EQ(devices.playersSounding, 0);
    EXPECT_EQ(panel.referenceButton()->title(), "Play reference");
    click(panel.referenceButton());
    EXPECT_EQ(devices.playersSounding, 1);
    EXPECT_EQ(panel.noteMenu()->currentText(), "C4");
}

} // namespace
} // namespace zivra::app
