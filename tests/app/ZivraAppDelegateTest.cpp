#include "app/ZivraAppDelegate.h"
#include "app/MenuView.h"
#include "app/OnboardingView.h"
#include "app/OnboardingWindow.h"
#include "app/PopoverWindow.h"
#include "tests/app/AppTestSupport.h"

#include <QPushButton>
#include <QSettings>
#include <QSystemTrayIcon>

#include <numbers>

namespace zivra::app {

// The desktop's permission answers, all granted unless a test says otherwise.
class ZivraAppDelegateTest : public AppTest {
protected:
    PermissionServices services() {
        PermissionServices s;
        s.audioGranted = [] { return true; };
        s.requestAudio = [](std::function<void(bool)> completion) { completion(true); };
        s.accessibilityTrusted = [this] { return trusted; };
        s.promptAccessibility = [] {};
        s.mediaControlStatus = [] { return PermissionServices::MediaStatus::granted; };
        s.mediaPlayerRunning = [] { return true; };
        s.openURL = [](const QUrl&) {};
        s.openMediaPlayerApp = [] {};
        return s;
    }

    ZivraAppDelegate& delegate() {
        if (!delegate_) {
            delegate_ = std::make_unique<ZivraAppDelegate>(engine(), services());
            delegate_->terminate = [this] { ++terminations; };
        }
        return *delegate_;
    }

    bool trusted = true;
    int terminations = 0;
    std::unique_ptr<ZivraAppDelegate> delegate_;
};

TEST_F(ZivraAppDelegateTest, FirstLaunchShowsOnboardingAndTheTrayClickBringsItBack) {
    delegate().applicationDidFinishLaunching();
    ASSERT_NE(delegate().onboardingWindow(), nullptr);
    OnboardingWindow* window = delegate().onboardingWindow();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->size(), QSize(420, 620));
    EXPECT_EQ(delegate().popover(), nullptr);
    window->hide();
    delegate().togglePopover();
    EXPECT_EQ(delegate().onboardingWindow(), window) << "the same window comes to the front";
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(delegate().popover(), nullptr);
}

TEST_F(ZivraAppDelegateTest, ContinueClosesOnboardingAndOpensThePopover) {
    delegate().applicationDidFinishLaunching();
    OnboardingView* view = delegate().onboardingWindow()->view();
    view->requestMediaPlayer();
    ASSERT_TRUE(view->canContinue());
    QTest::mouseClick(view->continueButton(), Qt::LeftButton);
    EXPECT_EQ(delegate().onboardingWindow(), nullptr);
    ASSERT_NE(delegate().popover(), nullptr);
    EXPECT_TRUE(delegate().popover()->isVisible());
    EXPECT_EQ(delegate().popover()->width(), 320);
    EXPECT_FALSE(delegate().onboardingRequired());

    delegate().togglePopover();
    EXPECT_FALSE(delegate().popover()->isVisible());
    PopoverWindow* popover = delegate().popover();
    MenuView* root = popover->view();
    root->setShowing(MenuView::Panel::presets, true);
    delegate().togglePopover();
    EXPECT_EQ(delegate().popover(), popover);
    EXPECT_TRUE(popover->isVisible());
    EXPECT_TRUE(root->isShowing(MenuView::Panel::presets)) << "panels stay as they were";
}

TEST_F(ZivraAppDelegateTest, QuitFromOnboardingTerminatesAndCleanupRunsAtTheEnd) {
    delegate().applicationDidFinishLaunching();
    QTest::mouseClick(delegate().onboardingWindow()->view()->quitButton(), Qt::LeftButton);
    EXPECT_EQ(terminations, 1);
    EXPECT_FALSE(delegate().onboardingWindow()->isVisible());
    delegate().applicationWillTerminate();
    EXPECT_TRUE(server->nothingLeft());
}

TEST_F(ZivraAppDelegateTest, ThePopoverReopensAfterAGrantOnlyIfItWasOpen) {
    QSettings().setValue("ZivraOnboardingCompleted", true);
    delegate().applicationDidFinishLaunching();
    ASSERT_EQ(delegate().onboardingWindow(), nullptr);
    // Without a tray the popover opens as an ordinary window by itself.
    ASSERT_NE(delegate().popover(), nullptr);
    EXPECT_TRUE(delegate().popover()->isVisible());
    EXPECT_FALSE(delegate().popover()->windowFlags().testFlag(Qt::Popup));
    ASSERT_TRUE(engine().permissionPromptHandler && engine().permissionGrantedHandler);

    engine().permissionPromptHandler();
    EXPECT_TRUE(delegate().shouldReopenPopoverAfterPermission());
    delegate().popover()->hide();
    engine().permissionPromptHandler();
    EXPECT_FALSE(delegate().shouldReopenPopoverAfterPermission());
    engine().permissionGrantedHandler();
    EXPECT_FALSE(delegate().popover()->isVisible());

    delegate().showPopover();
    engine().permissionPromptHandler();
    EXPECT_TRUE(delegate().shouldReopenPopoverAfterPermission());
    engine().permissionGrantedHandler();
    EXPECT_FALSE(delegate().shouldReopenPopoverAfterPermission());
    EXPECT_TRUE(delegate().popover()->isVisible());

    delegate_.reset();
    engine().permissionPromptHandler();
    engine().permissionGrantedHandler();
}

TEST_F(ZivraAppDelegateTest, ClosingTheTraylessWindowQuits) {
    QSettings().setValue("ZivraOnboardingCompleted", true);
    delegate().applicationDidFinishLaunching();
    ASSERT_NE(delegate().popover(), nullptr);
    ASSERT_TRUE(delegate().popover()->isVisible());
    delegate().popover()->hide();
    EXPECT_EQ(terminations, 0) << "hiding is not closing";
    delegate().showPopover();
    delegate().popover()->close();
    EXPECT_EQ(terminations, 1) << "nothing could open the window again";
}

TEST_F(ZivraAppDelegateTest, MissingTrustKeepsOnboardingDueEvenWhenCompleted) {
    QSettings().setValue("ZivraOnboardingCompleted", true);
    trusted = false;
    EXPECT_TRUE(delegate().onboardingRequired());
    trusted = true;
    EXPECT_FALSE(delegate().onboardingRequired());
}

TEST_F(ZivraAppDelegateTest, TrayIconsFallBackFromTheDrawingToTheTurnedSymbol) {
    EXPECT_FALSE(ZivraAppDelegate::statusBarIcon().isNull());
    const QPixmap turned =
        ZivraAppDelegate::rotatedSymbolIcon("mic.fill", 22, std::numbers::pi / 4);
    ASSERT_FALSE(turned.isNull());
    EXPECT_EQ(turned.deviceIndependentSize(), QSizeF(22, 22));
    // The symbol fills 70 % of the square, so the corners stay empty.
    const QImage image = turned.toImage();
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_GT(qAlpha(image.pixel(image.width() / 2, image.height() / 2)), 0);
    EXPECT_TRUE(ZivraAppDelegate::rotatedSymbolIcon("no.such.symbol", 22, 0).isNull());
}

} // namespace zivra::app
