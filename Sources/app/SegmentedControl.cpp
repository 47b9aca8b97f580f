#include "app/SegmentedControl.h"

#include "app/Style.h"

#include <QHBoxLayout>
#include <QPushButton>

namespace zivra::app {

SegmentedControl::SegmentedControl(const QStringList& titles, const QColor& tint, QWidget* parent)
    : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    const QString border = QStringLiteral("rgba(0,0,0,40)");
    for (int i = 0; i < titles.size(); ++i) {
        auto* button = new QPushButton(titles[i], this);
        button->setCheckable(true);
        button->setFont(systemFont(12, QFont::Medium));
        button->setMinimumHeight(24);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        const QString left = i == 0 ? QStringLiteral("6px") : QStringLiteral("0px");
        const QString right =
            i == titles.size() - 1 ? QStringLiteral("6px") : QStringLiteral("0px");
        button->setStyleSheet(
            QStringLiteral("QPushButton { background: rgba(0,0,0,18); border: 1px solid %1;"
                           " border-left-width: %2; padding: 3px 4px;"
                           " border-top-left-radius: %3; border-bottom-left-radius: %3;"
                           " border-top-right-radius: %4; border-bottom-right-radius: %4; }"
                           "QPushButton:checked { background: %5; color: white; }")
                .arg(border, i == 0 ? QStringLiteral("1px") : QStringLiteral("0px"), left, right,
                     tint.name()));
        connect(button, &QPushButton::clicked, this, [this, i] {
            // The engine decides what is selected; the view shows it when it reports back.
            setSelectedIndex(selectedIndex());
            emit segmentChosen(i);
        });
        row->addWidget(button);
        segments_.append(button);
    }
}

void SegmentedControl::setSelectedIndex(int index) {
    for (int i = 0; i < segments_.size(); ++i) {
        segments_[i]->setChecked(i == index);
    }
    selected_ = index;
}

} // namespace zivra::app
