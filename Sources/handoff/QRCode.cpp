#include "handoff/QRCode.h"

#include <qrencode.h>

#include <memory>

namespace zivra::handoff {

namespace {

constexpr int quietZone = 4;

struct QRcodeFree {
    void operator()(QRcode* code) const { QRcode_free(code); }
};

} // namespace

QImage generateQRCode(const QString& text, int size) {
    if (size <= 0) {
        return {};
    }
    const QByteArray bytes = text.toUtf8();
    const std::unique_ptr<QRcode, QRcodeFree> code(QRcode_encodeData(
        static_cast<int>(bytes.size()), reinterpret_cast<const unsigned char*>(bytes.constData()),
        0, QR_ECLEVEL_M));
    if (!code) {
        return {};
    }
    const int width = code->width;
    const int modules = width + 2 * quietZone;
    QImage image(size, size, QImage::Format_Grayscale8);
    if (image.isNull()) {
        return {};
    }
    // Whole pixels per module where the size allows, centred: every module
    // is drawn alike, with sharp edges.
    const int pixels = size / modules;
    const int drawn = pixels > 0 ? pixels * modules : size;
    const int margin = (size - drawn) / 2;
    image.fill(255);
    for (int y = margin; y < margin + drawn; ++y) {
        uchar* line = image.scanLine(y);
        const int row = (y - margin) * modules / drawn - quietZone;
        for (int x = margin; x < margin + drawn; ++x) {
            const int column = (x - margin) * modules / drawn - quietZone;
            const bool dark = row >= 0 && row < width && column >= 0 && column < width &&
                              (code->data[row * width + column] & 1);
            line[x] = dark ? 0 : 255;
        }
    }
    return image;
}

} // namespace zivra::handoff
