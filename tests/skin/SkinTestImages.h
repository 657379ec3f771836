#pragma once
// Pixel helpers for the skin drawing tests.

#include <QImage>
#include <QRect>
#include <functional>

namespace kavrel::test {

inline bool IsBlack(QRgb pixel) {
    return qRed(pixel) == 0 && qGreen(pixel) == 0 && qBlue(pixel) == 0;
}

// The bounding box of the pixels inside `area` that satisfy `match`; an empty
// rectangle when none does.
inline QRect BoundingBox(const QImage& image, const QRect& area,
                         const std::function<bool(QRgb)>& match) {
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (match(image.pixel(x, y)))
                box = box.united(QRect(x, y, 1, 1));
        }
    }
    return box;
}

// True when every pixel inside `area` satisfies `match`.
inline bool All(const QImage& image, const QRect& area, const std::function<bool(QRgb)>& match) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (!match(image.pixel(x, y)))
                return false;
        }
    }
    return true;
}

}  // namespace kavrel::test
