#pragma once
// Drawing primitives of the skin artwork. Every glyph is drawn in a 100 x 100
// design box: the caller scales the painter so that the box covers the
// bitmap, which keeps the pictures alike at 54 x 54 and 80 x 80.

#include <QColor>
#include <QPainter>
#include <QSize>

namespace kavrel::artwork {

enum class Direction { Up, Down, Left, Right };
enum class Sign { Plus, Minus };
enum class FaceTone { Command, Camera, Channel };

// Palette shared by all pictures.
inline const QColor kGlyphColour{240, 243, 247};
inline const QColor kPlayColour{76, 200, 96};
inline const QColor kStopColour{226, 72, 64};
inline const QColor kExitColour{232, 96, 80};

// A raised, rounded button face over black, covering the whole bitmap.
void DrawButtonFace(QPainter& painter, QSize size, FaceTone tone);
// A light panel (labels draw black text on it), covering the whole bitmap.
void DrawLightPanel(QPainter& painter, QSize size);

// Glyphs in the 100 x 100 design box.
void DrawArrow(QPainter& painter, Direction direction);
void DrawMagnifier(QPainter& painter, Sign sign);
void DrawFocus(QPainter& painter, Sign sign);
void DrawIris(QPainter& painter, Sign sign);
void DrawPlay(QPainter& painter);
void DrawStop(QPainter& painter);
void DrawCamera(QPainter& painter);
void DrawFullScreenSign(QPainter& painter);
void DrawNextPage(QPainter& painter);
void DrawGear(QPainter& painter);
void DrawDoor(QPainter& painter);
void DrawCross(QPainter& painter, QColor colour);
void DrawNumber(QPainter& painter, int number);
void DrawLogo(QPainter& painter);

}  // namespace kavrel::artwork
