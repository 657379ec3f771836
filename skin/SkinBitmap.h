#pragma once
// Access to the skin's pictures and the look every skinned control shares.
// User-interface thread only: the caches below are not locked.

#include <QFont>
#include <QImage>
#include <QRect>
#include <QSize>

class QPainter;
class QWidget;

namespace kavrel {

// The bitmap resource `id` (":/bitmaps/<id>.bmp"), decoded on the first call
// and shared afterwards; a null image when no such resource exists.
QImage LoadSkinBitmap(int id);

// The picture of skin id `id` for an area of `logicalSize` on a device with
// `devicePixelRatio`: logicalSize * devicePixelRatio pixels (rounded, at
// least one each way), tagged with that ratio. Drawn from the artwork's
// shapes at that very size, so it is sharp however large the control and
// however dense the screen; an id without drawing falls back to its bitmap
// resource, stretched. Null when `id` has neither, or for an empty size.
// Kept in a small cache, so that painting the same control again neither
// draws nor decodes.
QImage SkinPicture(int id, QSize logicalSize, qreal devicePixelRatio);

// True when SkinPicture gives `id` a picture (at any size).
bool HasSkinPicture(int id);

// Draws SkinPicture `id` over `target` at the pixels of what `painter` paints
// into (a window's backing store, or the image handed to QWidget::render),
// so that no artwork pixel is stretched.
void DrawSkinPicture(QPainter& painter, const QRect& target, int id);

// The font of every skinned control: Liberation Sans (scripts/setup.sh
// installs it; any sans-serif where it is missing). 10 points on a window of
// 480 x 640 or smaller; a larger window scales it by the lesser of its width
// over 480 and its height over 640.
QFont SkinFont(QSize windowSize);
// SkinFont for the top-level window that `widget` belongs to.
QFont SkinFont(const QWidget& widget);

// The program's screen height: the height of the top-level window that
// `widget` belongs to (the widget itself when it has no parent).
int ScreenHeightOf(const QWidget& widget);

}  // namespace kavrel
