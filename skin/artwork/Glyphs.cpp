#include "skin/artwork/Glyphs.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <cmath>
#include <numbers>

namespace kavrel::artwork {
namespace {

QPen GlyphPen(qreal width, QColor colour = kGlyphColour) {
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A small plus or minus badge in the lower right corner of the design box.
void DrawSignBadge(QPainter& painter, Sign sign) {
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 196, 64));
    painter.drawEllipse(QPointF(76, 76), 17, 17);
    painter.setPen(GlyphPen(7, QColor(30, 30, 30)));
    painter.drawLine(QPointF(67, 76), QPointF(85, 76));
    if (sign == Sign::Plus)
        painter.drawLine(QPointF(76, 67), QPointF(76, 85));
    painter.restore();
}

}  // namespace

void DrawButtonFace(QPainter& painter, QSize size, FaceTone tone) {
    painter.save();
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::black);
    QColor top;
    QColor bottom;
    switch (tone) {
        case FaceTone::Command:
            top = QColor(70, 82, 100);
            bottom = QColor(28, 34, 44);
            break;
        case FaceTone::Camera:
            top = QColor(62, 78, 88);
            bottom = QColor(24, 32, 38);
            break;
        case FaceTone::Channel:
            top = QColor(44, 84, 140);
            bottom = QColor(18, 36, 70);
            break;
    }
    const qreal inset = 1.5;
    const QRectF face(inset, inset, size.width() - 2 * inset, size.height() - 2 * inset);
    const qreal radius = size.width() * 0.16;
    QLinearGradient fill(face.topLeft(), face.bottomLeft());
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    painter.setBrush(fill);
    painter.setPen(QPen(top.lighter(150), 1.5));
    painter.drawRoundedRect(face, radius, radius);
    painter.restore();
}

void DrawLightPanel(QPainter& painter, QSize size) {
    painter.save();
    const QRectF area(QPointF(0, 0), QSizeF(size));
    QLinearGradient fill(area.topLeft(), area.bottomLeft());
    fill.setColorAt(0, QColor(232, 238, 245));
    fill.setColorAt(1, QColor(186, 198, 212));
    painter.fillRect(area, fill);
    painter.setPen(QPen(QColor(140, 154, 172), 1));
    painter.drawLine(QPointF(0, size.height() - 0.5), QPointF(size.width(), size.height() - 0.5));
    painter.restore();
}

void DrawArrow(QPainter& painter, Direction direction) {
    painter.save();
    painter.translate(50, 50);
    const qreal angle = direction == Direction::Up      ? 0
                        : direction == Direction::Right ? 90
                        : direction == Direction::Down  ? 180
                                                        : 270;
    painter.rotate(angle);
    // Drawn pointing up; the rotation turns it.
    QPolygonF head;
    head << QPointF(0, -34) << QPointF(28, -2) << QPointF(10, -2) << QPointF(10, 30)
         << QPointF(-10, 30) << QPointF(-10, -2) << QPointF(-28, -2);
    painter.setPen(GlyphPen(3));
    painter.setBrush(kGlyphColour);
    painter.drawPolygon(head);
    painter.restore();
}

void DrawMagnifier(QPainter& painter, Sign sign) {
    painter.save();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(GlyphPen(8));
    painter.drawEllipse(QPointF(42, 42), 24, 24);
    painter.setPen(GlyphPen(13));
    painter.drawLine(QPointF(60, 60), QPointF(80, 80));
    painter.setPen(GlyphPen(8));
    painter.drawLine(QPointF(30, 42), QPointF(54, 42));
    if (sign == Sign::Plus)
        painter.drawLine(QPointF(42, 30), QPointF(42, 54));
    painter.restore();
}

void DrawFocus(QPainter& painter, Sign sign) {
    painter.save();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(GlyphPen(6));
    // Viewfinder corners around a sharp point: the usual focus sign.
    const qreal lo = 16;
    const qreal hi = 72;
    const qreal arm = 15;
    painter.drawPolyline(QPolygonF{{lo, lo + arm}, {lo, lo}, {lo + arm, lo}});
    painter.drawPolyline(QPolygonF{{hi - arm, lo}, {hi, lo}, {hi, lo + arm}});
    painter.drawPolyline(QPolygonF{{lo, hi - arm}, {lo, hi}, {lo + arm, hi}});
    painter.drawEllipse(QPointF(44, 44), 11, 11);
    painter.setBrush(kGlyphColour);
    painter.drawEllipse(QPointF(44, 44), 3, 3);
    painter.restore();
    DrawSignBadge(painter, sign);
}

void DrawIris(QPainter& painter, Sign sign) {
    painter.save();
    painter.setPen(GlyphPen(5));
    painter.setBrush(Qt::NoBrush);
    const QPointF centre(44, 44);
    const qreal outer = 32;
    painter.drawEllipse(centre, outer, outer);
    // Six aperture blades: each a line from the rim, tangent to the opening.
    const qreal opening = 12;
    for (int i = 0; i < 6; ++i) {
        const qreal a = i * std::numbers::pi / 3;
        const QPointF tangentPoint = centre + QPointF(std::cos(a), std::sin(a)) * opening;
        const QPointF along(-std::sin(a), std::cos(a));
        const qreal reach = std::sqrt(outer * outer - opening * opening);
        painter.drawLine(tangentPoint, tangentPoint + along * reach);
    }
    painter.restore();
    DrawSignBadge(painter, sign);
}

void DrawPlay(QPainter& painter) {
    painter.save();
    painter.setPen(GlyphPen(4, kPlayColour.lighter(130)));
    painter.setBrush(kPlayColour);
    painter.drawPolygon(QPolygonF{{34, 22}, {78, 50}, {34, 78}});
    painter.restore();
}

void DrawStop(QPainter& painter) {
    painter.save();
    painter.setPen(GlyphPen(4, kStopColour.lighter(130)));
    painter.setBrush(kStopColour);
    painter.drawRoundedRect(QRectF(27, 27, 46, 46), 6, 6);
    painter.restore();
}

void DrawCamera(QPainter& painter) {
    painter.save();
    painter.setPen(GlyphPen(5));
    painter.setBrush(Qt::NoBrush);
    QPainterPath body;
    body.addRoundedRect(QRectF(14, 32, 72, 46), 8, 8);
    painter.drawPath(body);
    painter.drawPolyline(QPolygonF{{34, 32}, {40, 22}, {60, 22}, {66, 32}});
    painter.drawEllipse(QPointF(50, 55), 14, 14);
    painter.setBrush(kGlyphColour);
    painter.drawEllipse(QPointF(50, 55), 5, 5);
    painter.drawEllipse(QPointF(76, 40), 2, 2);
    painter.restore();
}

void DrawFullScreenSign(QPainter& painter) {
    painter.save();
    painter.setPen(GlyphPen(7));
    painter.setBrush(Qt::NoBrush);
    // Four corners pointing outward, each an arrow along the diagonal.
    const qreal lo = 18;
    const qreal hi = 82;
    const qreal arm = 18;
    const QPointF corners[4] = {{lo, lo}, {hi, lo}, {lo, hi}, {hi, hi}};
    for (const QPointF& corner : corners) {
        const qreal dx = corner.x() < 50 ? 1 : -1;
        const qreal dy = corner.y() < 50 ? 1 : -1;
        painter.drawPolyline(
            QPolygonF{corner + QPointF(0, dy * arm), corner, corner + QPointF(dx * arm, 0)});
        painter.drawLine(corner, corner + QPointF(dx * 16, dy * 16));
    }
    painter.setPen(GlyphPen(3));
    painter.drawRect(QRectF(38, 40, 24, 20));
    painter.restore();
}

void DrawNextPage(QPainter& painter) {
    painter.save();
    painter.setPen(GlyphPen(5));
    painter.setBrush(QColor(90, 104, 124));
    // Two stacked pages and an arrow to the next one.
    painter.drawRect(QRectF(26, 18, 38, 50));
    painter.setBrush(QColor(120, 136, 158));
    painter.drawRect(QRectF(16, 28, 38, 50));
    painter.setPen(GlyphPen(8, QColor(255, 196, 64)));
    painter.drawLine(QPointF(46, 62), QPointF(82, 62));
    painter.drawPolyline(QPolygonF{{70, 50}, {83, 62}, {70, 74}});
    painter.restore();
}

void DrawGear(QPainter& painter) {
    painter.save();
    painter.translate(50, 50);
    QPainterPath gear;
    const int teeth = 8;
    const qreal outer = 36;
    const qreal inner = 27;
    QPolygonF outline;
    for (int i = 0; i < teeth * 4; ++i) {
        const qreal a = (i - 0.5) * 2 * std::numbers::pi / (teeth * 4);
        const qreal r = (i % 4 == 0 || i % 4 == 1) ? outer : inner;
        outline << QPointF(std::cos(a) * r, std::sin(a) * r);
    }
    gear.addPolygon(outline);
    gear.closeSubpath();
    gear.addEllipse(QPointF(0, 0), 11, 11);
    gear.setFillRule(Qt::OddEvenFill);
    painter.setPen(GlyphPen(2));
    painter.setBrush(kGlyphColour);
    painter.drawPath(gear);
    painter.restore();
}

void DrawDoor(QPainter& painter) {
    painter.save();
    painter.setPen(GlyphPen(5));
    painter.setBrush(Qt::NoBrush);
    // Door frame, the door swung open, and an arrow walking out.
    painter.drawPolyline(QPolygonF{{52, 30}, {52, 16}, {18, 16}, {18, 84}, {52, 84}, {52, 70}});
    painter.setBrush(kExitColour);
    painter.drawPolygon(QPolygonF{{18, 16}, {40, 24}, {40, 92}, {18, 84}});
    painter.setPen(GlyphPen(8, kExitColour));
    painter.drawLine(QPointF(50, 50), QPointF(84, 50));
    painter.drawPolyline(QPolygonF{{72, 38}, {85, 50}, {72, 62}});
    painter.restore();
}

void DrawCross(QPainter& painter, QColor colour) {
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(QRectF(8, 8, 84, 84), 16, 16);
    painter.setPen(GlyphPen(14));
    painter.drawLine(QPointF(30, 30), QPointF(70, 70));
    painter.drawLine(QPointF(70, 30), QPointF(30, 70));
    painter.restore();
}

void DrawNumber(QPainter& painter, int number) {
    painter.save();
    QFont font("Liberation Sans");
    font.setBold(true);
    font.setPixelSize(number < 10 ? 56 : 48);
    painter.setFont(font);
    painter.setPen(kGlyphColour);
    painter.drawText(QRectF(0, 0, 100, 100), Qt::AlignCenter, QString::number(number));
    painter.restore();
}

void DrawLogo(QPainter& painter) {
    painter.save();
    QRadialGradient glow(QPointF(50, 50), 50);
    glow.setColorAt(0, QColor(60, 110, 180));
    glow.setColorAt(1, QColor(12, 24, 48));
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawRoundedRect(QRectF(0, 0, 100, 100), 18, 18);
    // A camera lens with a "K" in it.
    painter.setPen(GlyphPen(6));
    painter.setBrush(QColor(20, 30, 44));
    painter.drawEllipse(QPointF(50, 50), 34, 34);
    painter.setPen(GlyphPen(2, QColor(150, 180, 220)));
    painter.drawEllipse(QPointF(50, 50), 25, 25);
    QFont font("Liberation Sans");
    font.setBold(true);
    font.setPixelSize(40);
    painter.setFont(font);
    painter.setPen(kGlyphColour);
    painter.drawText(QRectF(0, 0, 100, 100), Qt::AlignCenter, "K");
    painter.restore();
}

}  // namespace kavrel::artwork
