#pragma once
// Writes a picture as a Windows BMP file: BITMAPFILEHEADER, BITMAPINFOHEADER,
// 24 bits per pixel, uncompressed (BI_RGB), rows bottom-up, each row padded to
// a multiple of four bytes. This is the format the skin loads by id.

#include <QByteArray>
#include <QImage>
#include <QString>

namespace kavrel::artwork {

// The complete file contents for `image` (any format; alpha is dropped).
QByteArray EncodeBmp24(const QImage& image);

// Writes EncodeBmp24(image) to `path`; false when the file cannot be written.
bool WriteBmp24(const QImage& image, const QString& path);

}  // namespace kavrel::artwork
