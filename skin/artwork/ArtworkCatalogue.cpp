#include "skin/artwork/ArtworkCatalogue.h"

#include <algorithm>

#include "skin/BitmapIds.h"
#include "skin/artwork/Glyphs.h"

namespace kavrel::artwork {
namespace {

const QSize kCommandSize(80, 80);
const QSize kSmallSize(54, 54);

// Scales the painter so that the 100 x 100 design box covers `size`.
void ToDesignBox(QPainter& painter, QSize size) {
    painter.scale(size.width() / 100.0, size.height() / 100.0);
}

ArtworkEntry Button(int id, QSize size, FaceTone tone, std::function<void(QPainter&)> glyph) {
    return ArtworkEntry{id, size, [tone, glyph](QPainter& painter, QSize s) {
                            DrawButtonFace(painter, s, tone);
                            ToDesignBox(painter, s);
                            glyph(painter);
                        }};
}

}  // namespace

std::vector<ArtworkEntry> Catalogue() {
    using namespace bitmap;
    std::vector<ArtworkEntry> entries;

    entries.push_back(
        {kTitleBackground, QSize(33, 20), [](QPainter& p, QSize s) { DrawLightPanel(p, s); }});
    entries.push_back(
        {kSettingsLabel, QSize(152, 99), [](QPainter& p, QSize s) { DrawLightPanel(p, s); }});
    entries.push_back({kTitleExit, QSize(23, 22), [](QPainter& p, QSize s) {
                           p.fillRect(QRect(QPoint(0, 0), s), Qt::black);
                           ToDesignBox(p, s);
                           DrawCross(p, kExitColour);
                       }});
    entries.push_back({kLogo, QSize(128, 128), [](QPainter& p, QSize s) {
                           p.fillRect(QRect(QPoint(0, 0), s), Qt::black);
                           ToDesignBox(p, s);
                           DrawLogo(p);
                       }});
    entries.push_back({kAppIcon, QSize(64, 64), [](QPainter& p, QSize s) {
                           p.fillRect(QRect(QPoint(0, 0), s), Qt::black);
                           ToDesignBox(p, s);
                           DrawLogo(p);
                       }});

    const auto command = FaceTone::Command;
    entries.push_back(Button(kPlay, kCommandSize, command, DrawPlay));
    entries.push_back(Button(kPlayActive, kCommandSize, command, DrawStop));
    entries.push_back(Button(kExit, kCommandSize, command, DrawDoor));
    entries.push_back(Button(kCapture, kCommandSize, command, DrawCamera));
    entries.push_back(Button(kFullScreen, kCommandSize, command, DrawFullScreenSign));
    entries.push_back(Button(kSwitch, kCommandSize, command, DrawNextPage));
    entries.push_back(Button(kSet, kCommandSize, command, DrawGear));

    const auto camera = FaceTone::Camera;
    auto arrow = [](Direction d) { return [d](QPainter& p) { DrawArrow(p, d); }; };
    entries.push_back(Button(kUp, kSmallSize, camera, arrow(Direction::Up)));
    entries.push_back(Button(kDown, kSmallSize, camera, arrow(Direction::Down)));
    entries.push_back(Button(kLeft, kSmallSize, camera, arrow(Direction::Left)));
    entries.push_back(Button(kRight, kSmallSize, camera, arrow(Direction::Right)));
    entries.push_back(
        Button(kZoomIn, kSmallSize, camera, [](QPainter& p) { DrawMagnifier(p, Sign::Plus); }));
    entries.push_back(
        Button(kZoomOut, kSmallSize, camera, [](QPainter& p) { DrawMagnifier(p, Sign::Minus); }));
    entries.push_back(
        Button(kFocusAdd, kSmallSize, camera, [](QPainter& p) { DrawFocus(p, Sign::Plus); }));
    entries.push_back(
        Button(kFocusSub, kSmallSize, camera, [](QPainter& p) { DrawFocus(p, Sign::Minus); }));
    entries.push_back(
        Button(kIrisAdd, kSmallSize, camera, [](QPainter& p) { DrawIris(p, Sign::Plus); }));
    entries.push_back(
        Button(kIrisSub, kSmallSize, camera, [](QPainter& p) { DrawIris(p, Sign::Minus); }));

    for (int channel = 1; channel <= kChannelCount; ++channel) {
        entries.push_back(Button(ChannelBitmapId(channel), kSmallSize, FaceTone::Channel,
                                 [channel](QPainter& p) { DrawNumber(p, channel); }));
    }

    std::sort(entries.begin(), entries.end(),
              [](const ArtworkEntry& a, const ArtworkEntry& b) { return a.id < b.id; });
    return entries;
}

QImage Render(const ArtworkEntry& entry) {
    return Render(entry, entry.size);
}

QImage Render(const ArtworkEntry& entry, QSize pixels) {
    QImage image(pixels, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // Left untouched at the entry's own size, so that the committed bitmaps
    // stay exactly what the unscaled drawing gives.
    if (pixels != entry.size) {
        painter.scale(qreal(pixels.width()) / entry.size.width(),
                      qreal(pixels.height()) / entry.size.height());
    }
    entry.draw(painter, entry.size);
    painter.end();
    return image;
}

}  // namespace kavrel::artwork
