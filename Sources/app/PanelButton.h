#pragma once

#include <QColor>
#include <QPushButton>
#include <QString>

class QLabel;

namespace zivra::app {

// The main button of a side panel (Handoff, tuner): a filled button in the tint across the
// panel's width, its title in 14-point semibold centred in a panelRow (PanelPieces.h). The title is
// also the button's accessible name. Main thread only; the parent owns the button. Throws
// nothing but std::bad_alloc.
class PanelButton : public QPushButton {
    Q_OBJECT
public:
    PanelButton(const QString& title, const QColor& tint, QWidget* parent = nullptr);

    QString title() const;
    void setTitle(const QString& title);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    QLabel* title_;
};

} // namespace zivra::app
