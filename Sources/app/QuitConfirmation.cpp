#include "app/QuitConfirmation.h"

#include "app/Style.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace zivra::app {

QuitConfirmation::QuitConfirmation(QWidget* parent)
    : QWidget(parent), quit_(new QPushButton(QStringLiteral("Quit"))),
      cancel_(new QPushButton(QStringLiteral("Cancel"))) {
    auto* centre = new QVBoxLayout(this);
    centre->setAlignment(Qt::AlignCenter);
    auto* card = new QFrame(this);
    card->setObjectName(QStringLiteral("alertCard"));
    card->setFixedWidth(250);
    card->setStyleSheet(QStringLiteral("#alertCard { background: %1; border-radius: 12px;"
                                       " border: 1px solid rgba(0,0,0,40); }")
                            .arg(palette().color(QPalette::Window).name()));
    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(16, 16, 16, 14);
    column->setSpacing(6);
    auto* title = new QLabel(QStringLiteral("Quit Zivra?"), card);
    title->setFont(systemFont(13, QFont::Bold));
    title->setAlignment(Qt::AlignCenter);
    auto* message = new QLabel(QStringLiteral("Are you sure you want to quit?"), card);
    message->setFont(systemFont(11));
    message->setAlignment(Qt::AlignCenter);
    message->setWordWrap(true);
    column->addWidget(title);
    column->addWidget(message);
    column->addSpacing(8);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    quit_->setParent(card);
    cancel_->setParent(card);
    quit_->setStyleSheet(QStringLiteral("QPushButton { color: #d70015; }"));
    cancel_->setDefault(true);
    buttons->addWidget(quit_);
    buttons->addWidget(cancel_);
    column->addLayout(buttons);
    centre->addWidget(card);
    connect(quit_, &QPushButton::clicked, this, [this] {
        emit dismissed();
        emit quitChosen();
    });
    connect(cancel_, &QPushButton::clicked, this, &QuitConfirmation::dismissed);
}

void QuitConfirmation::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 90));
}

} // namespace zivra::app
