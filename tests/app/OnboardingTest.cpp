#include "app/OnboardingView.h"
#include "app/OnboardingWindow.h"
#include "app/PermissionRow.h"
#include "app/Spinner.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace zivra::app {

using Status = PermissionServices::MediaStatus;

// The desktop's answers, as the test sets them, and what the view asked of it.
struct FakeDesktop {
    bool audio = false;
    bool grantAudio = true;
    bool deferAudioAnswer = false;
    std::function<void(bool)> pendingAudio;
    bool trusted = false;
    bool trustAfterPrompt = false;
    Status media = Status::undetermined;
    bool playerRunning = false;
    int prompts = 0;
    int probes = 0;
    int launches = 0;
    QList<QUrl> opened;

    PermissionServices services() {
        PermissionServices s;
        s.audioGranted = [this] { return audio; };
        s.requestAudio = [this](std::function<void(bool)> completion) {
            if (deferAudioAnswer) {
                pendingAudio = std::move(completion);
            } else {
                completion(grantAudio);
            }
        };
        s.accessibilityTrusted = [this] { return trusted; };
        s.promptAccessibility = [this] {
            ++prompts;
            trusted = trustAfterPrompt;
        };
        s.mediaControlStatus = [this] {
            ++probes;
            return media;
        };
        s.mediaPlayerRunning = [this] { return playerRunning; };
        s.openURL = [this](const QUrl& url) { opened.append(url); };
        s.openMediaPlayerApp = [this] { ++launches; };
        return s;
    }
};

class OnboardingTest : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }

    OnboardingView& view() {
        if (!view_) {
            view_ = std::make_unique<OnboardingView>(
                desktop.services(), [this] { ++completions; }, [this] { ++quits; });
            view_->show();
        }
        return *view_;
    }

    static void click(QPushButton* button) {
        QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    }

    static QString paneURL(const QString& anchor) {
        return "x-apple.systempreferences:com.apple.preference.security?" + anchor;
    }

    FakeDesktop desktop;
    int completions = 0;
    int quits = 0;
    std::unique_ptr<OnboardingView> view_;
};

TEST_F(OnboardingTest, TheFirstPollFillsInWhatIsGrantedButNeverProbesTheMediaPlayers) {
    desktop.audio = true;
    desktop.trusted = true;
    desktop.media = Status::granted;
    EXPECT_EQ(view().audioState(), PermissionRowState::granted);
    EXPECT_EQ(view().accessibilityState(), PermissionRowState::granted);
    EXPECT_EQ(view().mediaPlayerState(), PermissionRowState::unknown);
    EXPECT_EQ(view().mediaRow()->status()->text(), "Required");
    EXPECT_EQ(desktop.probes, 0);
    EXPECT_FALSE(view().canContinue());
    EXPECT_FALSE(view().continueButton()->isEnabled());
    EXPECT_TRUE(view().pollTimer()->isActive());
    EXPECT_EQ(view().pollTimer()->interval(), 500);

    click(view().mediaRow()->button());
    EXPECT_EQ(view().mediaPlayerState(), PermissionRowState::granted);
    EXPECT_EQ(view().mediaRow()->status()->text(), "Ready");
    EXPECT_FALSE(view().mediaRow()->button()->isEnabled());
    EXPECT_TRUE(view().continueButton()->isEnabled());

    click(view().continueButton());
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(QSettings().value("ZivraOnboardingCompleted").toBool());
}

TEST_F(OnboardingTest, RefusedAudioReadsDeniedAndOpensTheScreenRecordingPane) {
    desktop.grantAudio = false;
    EXPECT_EQ(view().audioRow()->status()->text(), "Required");
    click(view().audioRow()->button());
    EXPECT_EQ(view().audioState(), PermissionRowState::denied);
    EXPECT_EQ(view().audioRow()->status()->text(), "Permission denied");
    EXPECT_EQ(desktop.opened, (QList<QUrl>{QUrl(paneURL("Privacy_ScreenCapture"))}));
    view().refreshNonInteractiveStates();
    EXPECT_EQ(view().audioState(), PermissionRowState::denied) << "polling never moves to denied";
    desktop.audio = true;
    view().refreshNonInteractiveStates();
    EXPECT_EQ(view().audioState(), PermissionRowState::granted);
}

TEST_F(OnboardingTest, APendingAudioRequestDisablesItsButtonAndIgnoresSecondClicks) {
    desktop.deferAudioAnswer = true;
    click(view().audioRow()->button());
    EXPECT_TRUE(view().isRequestingAudio());
    EXPECT_FALSE(view().audioRow()->button()->isEnabled());
    EXPECT_TRUE(view().audioRow()->spinner()->isVisible());
    view().requestAudio();
    ASSERT_TRUE(desktop.pendingAudio);
    desktop.pendingAudio(true);
    EXPECT_FALSE(view().isRequestingAudio());
    EXPECT_EQ(view().audioState(), PermissionRowState::granted);
    EXPECT_FALSE(view().audioRow()->spinner()->isVisible());
    EXPECT_TRUE(desktop.opened.isEmpty());
}

TEST_F(OnboardingTest, AccessibilityPromptsOnceAndWaitsForApproval) {
    click(view().accessibilityRow()->button());
    EXPECT_EQ(desktop.prompts, 1);
    EXPECT_EQ(view().accessibilityState(), PermissionRowState::undetermined);
    EXPECT_EQ(view().accessibilityRow()->status()->text(), "Waiting for approval");
    EXPECT_EQ(desktop.opened, (QList<QUrl>{QUrl(paneURL("Privacy_Accessibility"))}));
    desktop.trusted = true;
    view().refreshNonInteractiveStates();
    EXPECT_EQ(view().accessibilityRow()->status()->text(), "Ready");
    EXPECT_FALSE(view().accessibilityRow()->button()->isEnabled());

    desktop.trustAfterPrompt = true;
    desktop.trusted = false;
    OnboardingView second(
        desktop.services(), [] {}, [] {});
    second.requestAccessibility();
    EXPECT_EQ(second.accessibilityState(), PermissionRowState::granted);
    EXPECT_EQ(desktop.opened.size(), 1);
}

TEST_F(OnboardingTest, NoPlayerRunningLaunchesOneAndPollsOnceItRuns) {
    desktop.media = Status::noPlayerRunning;
    click(view().mediaRow()->button());
    EXPECT_EQ(view().mediaPlayerState(), PermissionRowState::needsApp);
    EXPECT_EQ(view().mediaRow()->status()->text(), "Open Spotify or Music");
    EXPECT_EQ(desktop.launches, 1);
    const int probes = desktop.probes;
    view().refreshNonInteractiveStates();
    EXPECT_EQ(desktop.probes, probes) << "no player yet: nothing to probe";
    desktop.playerRunning = true;
    desktop.media = Status::granted;
    view().refreshNonInteractiveStates();
    EXPECT_EQ(view().mediaPlayerState(), PermissionRowState::granted);
}

TEST_F(OnboardingTest, NoPlayerRunningDoesNotBlockContinueButARefusalDoes) {
    desktop.audio = true;
    desktop.trusted = true;
    desktop.media = Status::noPlayerRunning;
    EXPECT_FALSE(view().continueButton()->isEnabled()) << "the players are not asked yet";
    click(view().mediaRow()->button());
    EXPECT_EQ(view().mediaRow()->status()->text(), "Open Spotify or Music");
    EXPECT_TRUE(view().mediaRow()->button()->isEnabled()) << "Open App stays at hand";
    EXPECT_TRUE(view().continueButton()->isEnabled());

    // A player that starts and refuses blocks again.
    desktop.playerRunning = true;
    desktop.media = Status::denied;
    view().refreshNonInteractiveStates();
    EXPECT_EQ(view().mediaRow()->status()->text(), "Permission denied");
    EXPECT_FALSE(view().continueButton()->isEnabled());

    // It quits again; the first run can be finished.
    desktop.playerRunning = false;
    desktop.media = Status::noPlayerRunning;
    click(view().mediaRow()->button());
    ASSERT_TRUE(view().continueButton()->isEnabled());
    click(view().continueButton());
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(QSettings().value("ZivraOnboardingCompleted").toBool());
}

TEST_F(OnboardingTest, ARefusalBeforeAnyPlayerBlocksContinue) {
    desktop.audio = true;
    desktop.trusted = true;
    desktop.media = Status::denied;
    click(view().mediaRow()->button());
    EXPECT_EQ(view().mediaPlayerState(), PermissionRowState::denied);
    EXPECT_FALSE(view().canContinue());
    EXPECT_FALSE(view().continueButton()->isEnabled());
}

TEST_F(OnboardingTest, DeniedAutomationIsReprobedOnEveryPoll) {
    desktop.media = Status::denied;
    click(view().mediaRow()->button());
    EXPECT_EQ(view().mediaRow()->status()->text(), "Permission denied");
    EXPECT_EQ(desktop.opened, (QList<QUrl>{QUrl(paneURL("Privacy_Automation"))}));
    const int probes = desktop.probes;
    view().refreshNonInteractiveStates();
    view().refreshNonInteractiveStates();
    EXPECT_EQ(desktop.probes, probes + 2);
    desktop.media = Status::granted;
    view().refreshNonInteractiveStates();
    EXPECT_EQ(view().mediaPlayerState(), PermissionRowState::granted);
}

TEST_F(OnboardingTest, AnUndeterminedProbeLeavesTheRowRequired) {
    desktop.media = Status::undetermined;
    click(view().mediaRow()->button());
    EXPECT_EQ(view().mediaPlayerState(), PermissionRowState::unknown);
    EXPECT_TRUE(view().mediaRow()->button()->isEnabled());
}

TEST_F(OnboardingTest, QuitCallsTheHostAndHidingStopsThePolling) {
    click(view().quitButton());
    EXPECT_EQ(quits, 1);
    view().hide();
    EXPECT_FALSE(view().pollTimer()->isActive());
}

TEST_F(OnboardingTest, RowStatesReadAsTheyShould) {
    EXPECT_EQ(buttonTitle(PermissionRowState::unknown), "Allow");
    EXPECT_EQ(buttonTitle(PermissionRowState::undetermined), "Allow");
    EXPECT_EQ(buttonTitle(PermissionRowState::granted), "Granted");
    EXPECT_EQ(buttonTitle(PermissionRowState::denied), "Open Settings");
    EXPECT_EQ(buttonTitle(PermissionRowState::needsApp), "Open App");
    EXPECT_EQ(rowState(Status::undetermined), PermissionRowState::unknown);
    EXPECT_EQ(rowState(Status::noPlayerRunning), PermissionRowState::needsApp);
    EXPECT_EQ(rowState(Status::granted), PermissionRowState::granted);
    EXPECT_EQ(rowState(Status::denied), PermissionRowState::denied);
}

TEST_F(OnboardingTest, TheAudioRowSpeaksOfThisComputer) {
    QStringList texts;
    for (const QLabel* label : view().audioRow()->findChildren<QLabel*>()) {
        texts << label->text();
    }
    EXPECT_TRUE(texts.contains("Capture this computer's audio output so Zivra can shift pitch, "
                               "remove vocals, and stream to your phone."))
        << texts.join(" | ").toStdString();
}

TEST_F(OnboardingTest, WindowIsBorderlessFloatingAndOfItsSize) {
    OnboardingWindow window(new OnboardingView(
        desktop.services(), [] {}, [] {}));
    window.show();
    EXPECT_EQ(window.size(), QSize(420, 620));
    EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
    // Corners are cut round: the corner pixel is outside the window's shape.
    EXPECT_FALSE(window.mask().contains(QPoint(0, 0)));
    EXPECT_TRUE(window.mask().contains(QPoint(210, 310)));
}

TEST_F(OnboardingTest, OnboardingIsDueUntilAllIsGrantedAndContinueWasPressed) {
    desktop.audio = true;
    desktop.trusted = true;
    desktop.media = Status::noPlayerRunning;
    QSettings settings;
    EXPECT_TRUE(onboardingRequired(desktop.services(), settings))
        << "a first start needs a player to grant automation";
    settings.setValue("ZivraOnboardingCompleted", true);
    EXPECT_FALSE(onboardingRequired(desktop.services(), settings))
        << "no player running must not lock a finished user out of the popover";
    desktop.media = Status::denied;
    EXPECT_TRUE(onboardingRequired(desktop.services(), settings));
    desktop.media = Status::undetermined;
    EXPECT_TRUE(onboardingRequired(desktop.services(), settings));
    desktop.media = Status::granted;
    EXPECT_FALSE(onboardingRequired(desktop.services(), settings));
    settings.remove("ZivraOnboardingCompleted");
    EXPECT_TRUE(onboardingRequired(desktop.services(), settings))
        << "all granted but never completed";
    desktop.trusted = false;
    settings.setValue("ZivraOnboardingCompleted", true);
    EXPECT_TRUE(onboardingRequired(desktop.services(), settings));
}

} // namespace zivra::app
