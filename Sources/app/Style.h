#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QWidget;

namespace zivra::app {

// Zivra's look in one place. Every function returns a new value the caller owns and throws
// nothing but std::bad_alloc; those that read the application's font or palette, and
// setTextColor (which borrows the widget), run on the main thread.

// Zivra's two accent colours.
inline QColor zivraTeal() {
    return QColor::fromRgbF(0.18f, 0.64f, 0.79f, 1.0f);
}
inline QColor zivraBlue() {
    return QColor::fromRgbF(0.13f, 0.42f, 0.91f, 1.0f);
}

// The system font at a size in points, where one point is one device-independent pixel, as
// on the desktops whose layouts these sizes come from.
QFont systemFont(qreal points, QFont::Weight weight = QFont::Normal);

// Buttons: "bordered" is a light tinted bezel with tinted text, "prominent" a filled bezel with
// white text.
QString borderedButtonStyle(const QColor& tint);
QString prominentButtonStyle(const QColor& tint);

// A horizontal slider whose filled part has the tint.
QString tintedSliderStyle(const QColor& tint);

// A tool button drawn as its icon alone, with a faint hover bezel and no menu arrow.
QString menuButtonStyle();

// A scroll area, and the widget it scrolls, that let the panel behind show through.
QString transparentScrollAreaStyle();

// Backgrounds: the nearly opaque panel material and the lighter card material.
QColor ultraThickMaterial();
QColor regularMaterial();

// Secondary text: the palette's text colour, faded.
QColor secondaryTextColor();
// The colour with its opacity multiplied by opacity.
QColor faded(QColor color, float opacity);
// A name shown as it is on a button or menu entry, where "&" would otherwise mark a shortcut.
QString verbatim(const QString& text);
// Gives a label (or any widget drawing text) its text colour.
void setTextColor(QWidget* widget, const QColor& color);

} // namespace zivra::app
