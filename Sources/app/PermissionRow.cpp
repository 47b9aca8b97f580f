#include "app/PermissionRow.h"

#include "app/Spinner.h"
#include "app/Style.h"
#include "app/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace zivra::app {
namespace {

QLabel* badge(const QString& icon, QWidget* parent) {
    constexpr int side = 36;
    QPixmap pixmap = blankPixmap(side);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = zivraTeal();
    fill.setAlphaF(0.12f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawEllipse(QRectF(0, 0, side, side));
    const QPixmap symbol = symbolPixmap(icon, 15, zivraTeal());
    painter.drawPixmap(QPointF((side - 15) / 2.0, (side - 15) / 2.0), symbol);
    painter.end();
    auto* label = new QLabel(parent);
    label->setPixmap(pixmap);
    label->setFixedSize(side, side);
    return label;
}

} // namespace

PermissionRow::PermissionRow(const QString& icon, const QString& title, const QString& description,
                             std::function<void()> action, QWidget* parent)
    : QWidget(parent), status_(new QLabel(this)), button_(new QPushButton(this)),
      spinner_(new Spinner(button_)), buttonText_(new QLabel(button_)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(14);
    row->addWidget(badge(icon, this), 0, Qt::AlignTop);

    auto* text = new QVBoxLayout;
    text->setSpacing(4);
    auto* heading = new QLabel(title, this);
    heading->setFont(systemFont(13, QFont::DemiBold));
    auto* details = new QLabel(description, this);
    details->setFont(systemFont(11));
    details->setWordWrap(true);
    setTextColor(details, secondaryTextColor());
    status_->setFont(systemFont(11, QFont::Medium));
    status_->setContentsMargins(0, 2, 0, 0);
    text->addWidget(heading);
    text->addWidget(details);
    text->addWidget(status_);
    row->addLayout(text, 1);

    auto* label = new QHBoxLayout(button_);
    label->setContentsMargins(8, 3, 8, 3);
    label->setSpacing(4);
    label->addStretch(1);
    label->addWidget(spinner_);
    buttonText_->setFont(systemFont(11, QFont::Medium));
    buttonText_->setStyleSheet(QStringLiteral("QLabel { color: %1; }"
                                              "QLabel:disabled { color: rgba(0,0,0,90); }")
                                   .arg(zivraTeal().name()));
    buttonText_->setAttribute(Qt::WA_TransparentForMouseEvents);
    spinner_->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->addWidget(buttonText_);
    label->addStretch(1);
    button_->setStyleSheet(borderedButtonStyle(zivraTeal()));
    button_->setMinimumWidth(68 + 16);
    row->addWidget(button_, 0, Qt::AlignTop);
    connect(button_, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
    display(PermissionRowState::unknown, false);
}

void PermissionRow::display(PermissionRowState state, bool isLoading) {
    status_->setText(statusText(state));
    setTextColor(status_, statusColor(state));
    spinner_->setVisible(isLoading);
    buttonText_->setText(buttonTitle(state));
    button_->setEnabled(state != PermissionRowState::granted && !isLoading);
    button_->setMinimumHeight(button_->layout()->sizeHint().height());
    button_->setMinimumWidth(std::max(68 + 16, button_->layout()->sizeHint().width()));
}

void PermissionRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(regularMaterial());
    painter.drawRoundedRect(QRectF(rect()), 12, 12);
}

} // namespace zivra::app
