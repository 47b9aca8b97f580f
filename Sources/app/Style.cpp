#include "app/Style.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

namespace zivra::app {

QFont systemFont(qreal points, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(qRound(points));
    font.setWeight(weight);
    return font;
}

QString borderedButtonStyle(const QColor& tint) {
    return QStringLiteral(
               "QPushButton, QToolButton { color: %1; background: rgba(%2,%3,%4,38);"
               " border: 1px solid rgba(%2,%3,%4,70); border-radius: 6px;"
               " padding: 2px 8px; }"
               "QPushButton:pressed, QToolButton:pressed { background: rgba(%2,%3,%4,80); }"
               "QPushButton:disabled, QToolButton:disabled { color: rgba(%2,%3,%4,110);"
               " background: rgba(0,0,0,12); border-color: rgba(0,0,0,25); }")
        .arg(tint.name())
        .arg(tint.red())
        .arg(tint.green())
        .arg(tint.blue());
}

QString prominentButtonStyle(const QColor& tint) {
    return QStringLiteral("QPushButton { color: white; background: %1; border: none;"
                          " border-radius: 7px; }"
                          "QPushButton:pressed { background: %2; }")
        .arg(tint.name(), tint.darker(120).name());
}

QString tintedSliderStyle(const QColor& tint) {
    return QStringLiteral("QSlider::sub-page:horizontal { background: %1; border-radius: 2px; }")
        .arg(tint.name());
}

QString menuButtonStyle() {
    return QStringLiteral("QToolButton { border: none; padding: 0px; background: transparent; }"
                          "QToolButton:hover { background: rgba(0,0,0,20); border-radius: 5px; }"
                          "QToolButton::menu-indicator { image: none; width: 0px; }");
}

QString transparentScrollAreaStyle() {
    return QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget"
                          " { background: transparent; }");
}

QColor ultraThickMaterial() {
    QColor color = QApplication::palette().color(QPalette::Window);
    color.setAlphaF(0.97f);
    return color;
}

QColor regularMaterial() {
    QColor color = QApplication::palette().color(QPalette::WindowText);
    color.setAlphaF(0.06f);
    return color;
}

QColor secondaryTextColor() {
    QColor color = QApplication::palette().color(QPalette::WindowText);
    color.setAlphaF(0.55f);
    return color;
}

QColor faded(QColor color, float opacity) {
    color.setAlphaF(color.alphaF() * opacity);
    return color;
}

QString verbatim(const QString& text) {
    QString escaped = text;
    return escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

} // namespace zivra::app
