#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace zivra::app {

// Zivra's drawings, found by name in one place. Symbols ("mic.fill", "gearshape.fill", ...) are
// monochrome shapes painted in the colour asked for; images ("AppIcon", "menu_bar_icon") keep
// their own colours. Every lookup answers a null pixmap for a name Zivra ships no drawing of.
// Main thread (pixmaps and the palette belong to it); the caller owns what is returned;
// nothing throws but std::bad_alloc.
bool hasDrawing(const QString& name);
QPixmap symbolPixmap(const QString& name, int points, const QColor& color);
QPixmap imagePixmap(const QString& name, int points);
// A transparent canvas of points x points at the screen's pixel ratio, to draw icons into.
QPixmap blankPixmap(qreal points);
// source scaled into a square of points with corners of radius points cut round.
QPixmap roundedImage(const QPixmap& source, qreal points, qreal radius);
// An icon whose pixmaps are the symbol painted in the palette's colours for each mode.
QIcon symbolIcon(const QString& name);

} // namespace zivra::app
