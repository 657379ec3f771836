#include "tools/artwork/BmpWriter.h"

#include <QFile>
#include <cstdint>

namespace kavrel::artwork {
namespace {

void PutU16(QByteArray& out, uint16_t value) {
    out.append(char(value & 0xff));
    out.append(char(value >> 8));
}

void PutU32(QByteArray& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.append(char((value >> shift) & 0xff));
}

}  // namespace

QByteArray EncodeBmp24(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    const uint32_t width = uint32_t(rgb.width());
    const uint32_t height = uint32_t(rgb.height());
    const uint32_t stride = (width * 3 + 3) & ~3u;
    const uint32_t pixelBytes = stride * height;
    constexpr uint32_t kHeaderBytes = 14 + 40;

    QByteArray out;
    out.reserve(int(kHeaderBytes + pixelBytes));
    out.append("BM", 2);
    PutU32(out, kHeaderBytes + pixelBytes);
    PutU32(out, 0);  // two reserved 16-bit fields
    PutU32(out, kHeaderBytes);
    PutU32(out, 40);  // BITMAPINFOHEADER size
    PutU32(out, width);
    PutU32(out, height);  // positive: rows stored bottom-up
    PutU16(out, 1);       // planes
    PutU16(out, 24);      // bits per pixel
    PutU32(out, 0);       // BI_RGB, uncompressed
    PutU32(out, pixelBytes);
    PutU32(out, 2835);  // 72 dpi in pixels per metre, both axes
    PutU32(out, 2835);
    PutU32(out, 0);  // no palette
    PutU32(out, 0);

    for (int y = int(height) - 1; y >= 0; --y) {
        const uchar* line = rgb.constScanLine(y);
        for (uint32_t x = 0; x < width; ++x) {
            out.append(char(line[x * 3 + 2]));  // blue, green, red
            out.append(char(line[x * 3 + 1]));
            out.append(char(line[x * 3 + 0]));
        }
        for (uint32_t pad = width * 3; pad < stride; ++pad)
            out.append('\0');
    }
    return out;
}

bool WriteBmp24(const QImage& image, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = EncodeBmp24(image);
    return file.write(bytes) == bytes.size() && file.flush();
}

}  // namespace kavrel::artwork
