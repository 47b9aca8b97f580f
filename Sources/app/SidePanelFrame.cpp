#include "app/SidePanelFrame.h"

#include "app/Style.h"

#include <QPainter>
#include <QVBoxLayout>

namespace zivra::app {

SidePanelFrame::SidePanelFrame(int spacing, QWidget* parent)
    : QWidget(parent), column_(new QVBoxLayout(this)) {
    column_->setContentsMargins(inset, inset, inset, inset);
    column_->setSpacing(spacing);
    column_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void SidePanelFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.fillRect(rect(), ultraThickMaterial());
}

} // namespace zivra::app
