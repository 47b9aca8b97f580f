#include "app/PanelButton.h"

#include "app/PanelPieces.h"
#include "app/Style.h"

#include <QHBoxLayout>
#include <QLabel>

namespace zivra::app {

PanelButton::PanelButton(const QString& title, const QColor& tint, QWidget* parent)
    : QPushButton(parent), title_(new QLabel) {
    setStyleSheet(prominentButtonStyle(tint));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    title_->setFont(systemFont(14, QFont::DemiBold));
    // The button's style sheet reaches the label too and would reset a palette colour.
    title_->setStyleSheet(QStringLiteral("color: white;"));
    auto* content = new QHBoxLayout(this);
    content->setContentsMargins(0, 0, 0, 0);
    QWidget* row = panelRow(title_, this);
    // Clicks on the label belong to the button.
    row->setAttribute(Qt::WA_TransparentForMouseEvents);
    content->addWidget(row);
    setTitle(title);
}

QString PanelButton::title() const {
    return title_->text();
}

void PanelButton::setTitle(const QString& title) {
    title_->setText(title);
    setAccessibleName(title);
}

QSize PanelButton::sizeHint() const {
    return layout()->sizeHint();
}

QSize PanelButton::minimumSizeHint() const {
    return layout()->minimumSize();
}

} // namespace zivra::app
