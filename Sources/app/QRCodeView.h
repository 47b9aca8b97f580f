#pragma once

#include <QImage>
#include <QWidget>

namespace zivra::app {

// A QR code drawn into a square of fixed size with rounded corners. The image is scaled
// without smoothing, so its modules keep sharp edges at any size and screen density. Main
// thread only; the parent owns it; it keeps a copy of the image. Throws nothing but
// std::bad_alloc.
class QRCodeView : public QWidget {
    Q_OBJECT
public:
    QRCodeView(int points, int cornerRadius, QWidget* parent = nullptr);

    const QImage& image() const { return image_; }
    void setImage(const QImage& image);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
    int cornerRadius_;
};

} // namespace zivra::app
