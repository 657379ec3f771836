#pragma once
// Access to the skin's built-in bitmaps and the look every skinned control
// shares. User-interface thread only (QImage loading is thread-safe, but the
// widgets that use these are not).

#include <QFont>
#include <QImage>

class QWidget;

namespace kavrel {

// The bitmap resource `id` (":/bitmaps/<id>.bmp"), loaded afresh on every
// call; a null image when no such resource exists.
QImage LoadSkinBitmap(int id);

// The font of every skinned control: "Times New Roman", 10 points (the
// screen's resolution decides the pixel height). Made anew for each paint.
QFont SkinFont();

// The program's screen height: the height of the top-level window that
// `widget` belongs to (the widget itself when it has no parent).
int ScreenHeightOf(const QWidget& widget);

}  // namespace kavrel
