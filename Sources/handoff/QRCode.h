#pragma once

#include <QImage>
#include <QString>

namespace zivra::handoff {

// The text as a QR code (ISO/IEC 18004, error correction level M) drawn
// black on white into a size × size image with sharp module edges and a
// quiet zone of four modules. A null image when the text cannot be encoded
// or size is not positive. Any thread; throws nothing.
QImage generateQRCode(const QString& text, int size);

} // namespace zivra::handoff
