#include "app/MenuView.h"
#include "app/PopoverWindow.h"
#include "app/PresetsPanel.h"
#include "app/QuitConfirmation.h"
#include "app/SidePanelFrame.h"
#include "tests/app/AppTestSupport.h"
#include "tests/audio/ZivraAudioTestAccess.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

namespace zivra::app {

namespace {

// A side panel of a given height, standing in for the Handoff and tuner panels.
QWidget* panelOfHeight(int height) {
    auto* panel = new SidePanelFrame(16);
    panel->column()->addWidget(new QLabel(QStringLiteral("panel")));
    panel->setFixedHeight(height);
    return panel;
}

} // namespace

class MenuViewTest : public AppTest {
protected:
    MenuView& view() {
        if (!view_) {
            view_ = std::make_unique<MenuView>(engine());
            view_->terminate = [this] { ++terminations; };
            view_->resize(view_->sizeHint());
            view_->show();
        }
        return *view_;
    }

    QMenu* outputMenu(QToolButton* button) {
        QMenu* menu = button->menu();
        for (QAction* action : menu->actions()) {
            if (action->text() == "Output") {
                return action->menu();
            }
        }
        return nullptr;
    }

    // The entries of an output menu with whether each carries the check mark.
    QList<std::pair<QString, bool>> entries(QMenu* menu) {
        emit menu->aboutToShow();
        QList<std::pair<QString, bool>> list;
        for (QAction* action : menu->actions()) {
            list.append({action->isSeparator() ? QStringLiteral("---") : action->text(),
                         !action->icon().isNull()});
        }
        return list;
    }

    int terminations = 0;
    std::unique_ptr<MenuView> view_;
};

TEST_F(MenuViewTest, FirstShowIsTheMainPanelAlone) {
    EXPECT_EQ(view().width(), 320);
    EXPECT_EQ(view().sizeHint().height(), view().mainPanel()->sizeHint().height());
    for (auto panel :
         {MenuView::Panel::presets, MenuView::Panel::handoff, MenuView::Panel::tuner}) {
        EXPECT_FALSE(view().isShowing(panel));
    }
    EXPECT_FALSE(view().presetsPanel()->isVisible());
    EXPECT_FALSE(view().showingQuitConfirmation());
}

TEST_F(MenuViewTest, OutputMenusMarkTheSelectedDevice) {
    audio::ZivraAudioTestAccess::setOutputDevices(
        engine(), {{40, "speakers", "Speakers"}, {41, "headphones", "Headphones"}});
    QMenu* header = outputMenu(view().audioSourceButton());
    QMenu* settings = outputMenu(view().settingsButton());
    ASSERT_TRUE(header && settings);
    const QList<std::pair<QString, bool>> initial = {
        {"System default", true}, {"---", false}, {"Speakers", false}, {"Headphones", false}};
    EXPECT_EQ(entries(header), initial);
    EXPECT_EQ(entries(settings), initial);

    menuAction(settings, "Headphones")->trigger();
    EXPECT_EQ(engine().selectedOutputID(), 41u);
    const QList<std::pair<QString, bool>> chosen = {
        {"System default", false}, {"---", false}, {"Speakers", false}, {"Headphones", true}};
    EXPECT_EQ(entries(header), chosen);
    EXPECT_EQ(entries(settings), chosen);

    menuAction(header, "System default")->trigger();
    EXPECT_EQ(engine().selectedOutputID(), std::nullopt);
    EXPECT_EQ(entries(settings), initial);
}

TEST_F(MenuViewTest, UnknownSelectionMarksNothingAndNewDevicesShowNextTime) {
    audio::ZivraAudioTestAccess::setOutputDevices(engine(), {});
    QMenu* header = outputMenu(view().audioSourceButton());
    EXPECT_EQ(entries(header),
              (QList<std::pair<QString, bool>>{{"System default", true}, {"---", false}}));
    audio::ZivraAudioTestAccess::setOutputDevices(engine(), {{7, "usb", "R&D Audio"}});
    QAction* usb = menuAction(header, "R&&D Audio");
    ASSERT_NE(usb, nullptr) << "an ampersand is shown, not taken for a shortcut";
    usb->trigger();
    audio::ZivraAudioTestAccess::setOutputDevices(engine(), {{8, "hdmi", "HDMI"}});
    EXPECT_EQ(entries(header), (QList<std::pair<QString, bool>>{
                                   {"System default", false}, {"---", false}, {"HDMI", false}}));
}

TEST_F(MenuViewTest, MenusOpenTheirPanelsAndBackButtonsCloseThem) {
    QAction* presets = menuAction(view().settingsButton()->menu(), "Presets");
    ASSERT_NE(presets, nullptr);
    presets->trigger();
    EXPECT_TRUE(view().isShowing(MenuView::Panel::presets));
    EXPECT_TRUE(view().presetsPanel()->isVisible());
    EXPECT_TRUE(eventually([&] { return view().presetsPanel()->x() == 0; }));

    auto* back = view().presetsPanel()->findChild<QPushButton*>("backButton");
    click(back);
    EXPECT_FALSE(view().isShowing(MenuView::Panel::presets));
    EXPECT_TRUE(eventually([&] { return !view().presetsPanel()->isVisible(); }));

    menuAction(view().audioSourceButton()->menu(), "Handoff to phone…")->trigger();
    EXPECT_TRUE(view().isShowing(MenuView::Panel::handoff));
    click(view().tunerButton());
    EXPECT_TRUE(view().isShowing(MenuView::Panel::tuner));
}

TEST_F(MenuViewTest, OpenPanelsStackPresetsHandoffTunerAndSetTheHeight) {
    const int mainHeight = view().mainPanel()->sizeHint().height();
    view().installPanel(MenuView::Panel::handoff, panelOfHeight(mainHeight + 150));
    view().installPanel(MenuView::Panel::tuner, panelOfHeight(100));
    view().setShowing(MenuView::Panel::tuner, true);
    view().setShowing(MenuView::Panel::handoff, true);
    view().setShowing(MenuView::Panel::presets, true);
    const QObjectList order = view().children();
    const auto position = [&](MenuView::Panel panel) { return order.indexOf(view().panel(panel)); };
    EXPECT_LT(position(MenuView::Panel::presets), position(MenuView::Panel::handoff));
    EXPECT_LT(position(MenuView::Panel::handoff), position(MenuView::Panel::tuner));
    EXPECT_LT(order.indexOf(view().mainPanel()), position(MenuView::Panel::presets));
    EXPECT_EQ(view().sizeHint().height(), mainHeight + 150);

    view().setShowing(MenuView::Panel::handoff, false);
    EXPECT_EQ(view().sizeHint().height(),
              std::max(mainHeight, view().presetsPanel()->sizeHint().height()));
    view().setShowing(MenuView::Panel::presets, false);
    // A shorter panel sits centred over the main panel.
    view().resize(view().sizeHint());
    QWidget* tuner = view().panel(MenuView::Panel::tuner);
    EXPECT_EQ(view().height(), mainHeight);
    EXPECT_EQ(tuner->y(), (mainHeight - 100) / 2);
}

TEST_F(MenuViewTest, QuitConfirmationFromBothPlaces) {
    click(view().powerButton());
    EXPECT_TRUE(view().showingQuitConfirmation());
    ASSERT_TRUE(view().quitConfirmation()->isVisible());
    EXPECT_EQ(view().quitConfirmation()->findChild<QLabel*>()->text(), "Quit Zivra?");
    click(view().quitConfirmation()->cancelButton());
    EXPECT_FALSE(view().showingQuitConfirmation());
    EXPECT_FALSE(view().quitConfirmation()->isVisible());
    EXPECT_EQ(terminations, 0);

    menuAction(view().settingsButton()->menu(), "Quit Zivra…")->trigger();
    EXPECT_TRUE(view().showingQuitConfirmation());
    click(view().quitConfirmation()->quitButton());
    EXPECT_FALSE(view().showingQuitConfirmation());
    EXPECT_EQ(terminations, 1);
}

TEST_F(MenuViewTest, PopoverFollowsTheViewBeyondFourPoints) {
    auto* view = new MenuView(engine());
    PopoverWindow popover(view, false);
    const QSize fitting = view->sizeHint();
    EXPECT_EQ(popover.size(), fitting);
    popover.resize(fitting.width(), fitting.height() - 3);
    popover.followContentSize();
    EXPECT_EQ(popover.height(), fitting.height() - 3);
    popover.resize(fitting.width(), fitting.height() - 5);
    popover.followContentSize();
    EXPECT_EQ(popover.height(), fitting.height());
    popover.resize(fitting.width() + 4, fitting.height());
    popover.followContentSize();
    EXPECT_EQ(popover.width(), fitting.width() + 4);

    popover.show();
    view->setShowing(MenuView::Panel::presets, true);
    view->installPanel(MenuView::Panel::handoff, panelOfHeight(fitting.height() + 60));
    view->setShowing(MenuView::Panel::handoff, true);
    EXPECT_TRUE(eventually([&] { return popover.height() == fitting.height() + 60; }));
}

TEST_F(MenuViewTest, ASavedPresetShowsInTheOpenPanelAtOnce) {
    view().setShowing(MenuView::Panel::presets, true);
    PresetsPanel* panel = view().presetsPanel();
    const int before = panel->height();
    QTest::keyClicks(panel->nameField(), "Chorus");
    click(panel->saveButton());
    ASSERT_EQ(panel->rows().size(), 1);
    EXPECT_TRUE(eventually([&] {
        return panel->rows()[0]->isVisible() && panel->rows()[0]->height() > 20 &&
               panel->height() > before;
    }));
}

TEST_F(MenuViewTest, PopoverHangsBelowATopIconAndStandsAboveABottomOne) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    auto* view = new MenuView(engine());
    PopoverWindow popover(view, true);
    const QRect topIcon(area.right() - 30, area.top(), 24, 28);
    popover.showUnder(topIcon);
    EXPECT_EQ(popover.y(), topIcon.bottom() + 1);
    EXPECT_EQ(popover.geometry().right(), area.right()) << "kept on the screen";

    popover.hide();
    const QRect bottomIcon(area.left() + 400, area.bottom() - 27, 24, 28);
    popover.showUnder(bottomIcon);
    EXPECT_EQ(popover.geometry().bottom(), bottomIcon.top() - 1);
    EXPECT_LE(std::abs(popover.geometry().center().x() - bottomIcon.center().x()), 1);
    view->installPanel(MenuView::Panel::handoff, panelOfHeight(popover.height() + 40));
    view->setShowing(MenuView::Panel::handoff, true);
    ASSERT_TRUE(eventually([&] { return popover.height() == view->sizeHint().height(); }));
    EXPECT_EQ(popover.geometry().bottom(), bottomIcon.top() - 1) << "grows upwards";
}

} // namespace zivra::app
