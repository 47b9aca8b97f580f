#include "app/Symbols.h"

#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QSvgRenderer>

// The drawings are compiled into the library; a static library must register them itself.
static void registerDrawings() {
    Q_INIT_RESOURCE(icons);
}

namespace zivra::app {
namespace {

qreal screenRatio() {
    return qApp ? qApp->devicePixelRatio() : 1.0;
}

QString drawingPath(const QString& name) {
    static const bool registered = (registerDrawings(), true);
    Q_UNUSED(registered);
    return QStringLiteral(":/icons/%1.svg").arg(name);
}

// Rendered at the device pixel ratio of the screen so the drawings stay crisp when scaled.
QPixmap render(const QString& name, int points) {
    if (!hasDrawing(name)) {
        return {};
    }
    QSvgRenderer renderer(drawingPath(name));
    if (!renderer.isValid() || points <= 0) {
        return {};
    }
    QPixmap pixmap = blankPixmap(points);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, points, points));
    return pixmap;
}

} // namespace

QPixmap blankPixmap(qreal points) {
    const qreal ratio = screenRatio();
    QPixmap pixmap(qCeil(points * ratio), qCeil(points * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QPixmap roundedImage(const QPixmap& source, qreal points, qreal radius) {
    QPixmap rounded = blankPixmap(points);
    QPainter painter(&rounded);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, points, points), radius, radius);
    painter.setClipPath(clip);
    painter.drawPixmap(QRectF(0, 0, points, points), source, QRectF(source.rect()));
    return rounded;
}

bool hasDrawing(const QString& name) {
    return !name.isEmpty() && QFile::exists(drawingPath(name));
}

QPixmap symbolPixmap(const QString& name, int points, const QColor& color) {
    QPixmap pixmap = render(name, points);
    if (pixmap.isNull()) {
        return pixmap;
    }
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRectF(QPointF(0, 0), pixmap.deviceIndependentSize()), color);
    return pixmap;
}

QPixmap imagePixmap(const QString& name, int points) {
    return render(name, points);
}

QIcon symbolIcon(const QString& name) {
    if (!hasDrawing(name)) {
        return {};
    }
    const QPalette palette = QApplication::palette();
    QIcon icon;
    for (int points : {16, 24, 32}) {
        icon.addPixmap(symbolPixmap(name, points, palette.color(QPalette::Active, QPalette::Text)),
                       QIcon::Normal);
        icon.addPixmap(
            symbolPixmap(name, points, palette.color(QPalette::Active, QPalette::HighlightedText)),
            QIcon::Active);
        icon.addPixmap(
            symbolPixmap(name, points, palette.color(QPalette::Disabled, QPalette::Text)),
            QIcon::Disabled);
    }
    return icon;
}

} // namespace zivra::app
