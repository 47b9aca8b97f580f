#include "app/OnboardingWindow.h"

#include "app/OnboardingView.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

namespace zivra::app {

OnboardingWindow::OnboardingWindow(OnboardingView* view)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      view_(view) {
    setWindowTitle(QStringLiteral("Zivra"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    setFixedSize(OnboardingView::contentSize);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void OnboardingWindow::mousePressEvent(QMouseEvent* event) {
    // Presses that no control took land here: the background moves the window.
    if (event->button() == Qt::LeftButton && windowHandle()) {
        windowHandle()->startSystemMove();
    }
}

void OnboardingWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
}

void OnboardingWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // A mask rounds the corners also where no compositor draws transparency.
    QPainterPath outline;
    outline.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    setMask(QRegion(outline.toFillPolygon().toPolygon()));
}

} // namespace zivra::app
