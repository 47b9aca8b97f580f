#pragma once

#include "tests/audio/EngineTestSupport.h"

#include <QAbstractButton>
#include <QMenu>
#include <QTest>

#include <functional>

namespace zivra::app {

// An engine over the fake sound server, and the clicks a user makes.
class AppTest : public audio::EngineTest {
protected:
    static void click(QWidget* widget) {
        // Pending layouts first, as the screen a user clicks on has been drawn.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        ASSERT_TRUE(widget->isVisible()) << "clicking a control the user cannot see";
        QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
    }

    // Waits (without a time limit of its own beyond five seconds) until the condition holds.
    static bool eventually(const std::function<bool()>& condition) {
        return QTest::qWaitFor(condition, 5000);
    }

    // The action of a menu with this text, after the menu has been filled as for opening.
    static QAction* menuAction(QMenu* menu, const QString& text) {
        emit menu->aboutToShow();
        for (QAction* action : menu->actions()) {
            if (action->text() == text) {
                return action;
            }
        }
        return nullptr;
    }
};

} // namespace zivra::app
