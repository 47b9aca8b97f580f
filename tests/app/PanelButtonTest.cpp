#include "app/PanelButton.h"

#include "app/PanelPieces.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace zivra::app {
namespace {

TEST(PanelRowTest, CentresItsLabelAcrossTheFullWidthWithTenPointsAboveAndBelow) {
    auto* label = new QLabel(QStringLiteral("Start"));
    std::unique_ptr<QWidget> row(panelRow(label));
    row->resize(280, row->sizeHint().height());
    row->show();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);

    EXPECT_EQ(label->parentWidget(), row.get());
    EXPECT_EQ(row->sizeHint().height(), label->sizeHint().height() + 20);
    EXPECT_EQ(label->y(), 10);
    EXPECT_EQ(label->geometry().center().x(), row->rect().center().x());
}

TEST(PanelButtonTest, TakesThePanelsWidthAndAnswersClicksOnItsTitle) {
    QWidget panel;
    auto* column = new QVBoxLayout(&panel);
    auto* button = new PanelButton(QStringLiteral("Start Handoff"), QColor(Qt::blue));
    column->addWidget(button);
    panel.resize(320, 200);
    panel.show();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);

    EXPECT_EQ(button->width(), panel.contentsRect().width() - column->contentsMargins().left() -
                                   column->contentsMargins().right());
    auto* title = button->findChild<QLabel*>();
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), QStringLiteral("Start Handoff"));
    EXPECT_EQ(title->font().pixelSize(), 14);
    EXPECT_EQ(title->font().weight(), QFont::DemiBold);
    // White letters on the tint: no dark pixel where the title is drawn.
    const QImage image = button->grab().toImage();
    const QRect letters = title->geometry().translated(title->parentWidget()->pos());
    int dark = 0;
    int white = 0;
    for (int y = letters.top(); y <= letters.bottom(); ++y) {
        for (int x = letters.left(); x <= letters.right(); ++x) {
            const int lightness = image.pixelColor(x, y).lightness();
            dark += lightness < 60 ? 1 : 0;
            white += lightness > 240 ? 1 : 0;
        }
    }
    EXPECT_EQ(dark, 0);
    EXPECT_GT(white, 0);

    QSignalSpy clicks(button, &QPushButton::clicked);
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier,
                      title->mapTo(button, title->rect().center()));
    EXPECT_EQ(clicks.count(), 1);

    button->setTitle(QStringLiteral("Stop Handoff"));
    EXPECT_EQ(button->title(), QStringLiteral("Stop Handoff"));
    EXPECT_EQ(button->accessibleName(), QStringLiteral("Stop Handoff"));
}

} // namespace
} // namespace zivra::app
