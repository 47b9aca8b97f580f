#include "app/PanelPieces.h"

#include "app/Style.h"
#include "app/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace zivra::app {

QWidget* backButtonLabel(QWidget* parent) {
    auto* label = new QWidget(parent);
    auto* row = new QHBoxLayout(label);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    const QColor color = zivraTeal();
    auto* chevron = new QLabel(label);
    chevron->setPixmap(symbolPixmap(QStringLiteral("chevron.left"), 14, color));
    auto* text = new QLabel(QStringLiteral("Back"), label);
    text->setFont(systemFont(14));
    setTextColor(text, color);
    row->addWidget(chevron, 0, Qt::AlignVCenter);
    row->addWidget(text, 0, Qt::AlignVCenter);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

QWidget* panelHeader(const QString& title, std::function<void()> back, QWidget* parent) {
    auto* header = new QWidget(parent);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    auto* button = new QPushButton(header);
    button->setObjectName(QStringLiteral("backButton"));
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0px; }"));
    auto* inner = new QHBoxLayout(button);
    inner->setContentsMargins(0, 0, 0, 0);
    QWidget* label = backButtonLabel(button);
    inner->addWidget(label);
    button->setMinimumSize(label->sizeHint());
    QObject::connect(button, &QPushButton::clicked, header, [back = std::move(back)] { back(); });
    auto* heading = new QLabel(title, header);
    heading->setFont(systemFont(13, QFont::DemiBold));
    row->addWidget(button);
    row->addStretch(1);
    row->addWidget(heading);
    row->addStretch(1);
    return header;
}

QWidget* panelRow(QWidget* label, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 10, 0, 10);
    line->setSpacing(0);
    line->addStretch(1);
    line->addWidget(label, 0, Qt::AlignVCenter);
    line->addStretch(1);
    return row;
}

} // namespace zivra::app
