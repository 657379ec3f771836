#pragma once
// Every picture the program loads by id, with its size and how it is drawn.
// The same drawing makes the committed bitmaps (at their own size) and the
// pictures the skin paints at whatever size a control has on screen.

#include <QImage>
#include <QPainter>
#include <QSize>
#include <functional>
#include <vector>

namespace kavrel::artwork {

struct ArtworkEntry {
    int id = 0;
    QSize size;
    // Paints the whole picture; the painter is fresh and unscaled.
    std::function<void(QPainter&, QSize)> draw;
};

// All entries, ordered by id.
std::vector<ArtworkEntry> Catalogue();

// The entry drawn into an opaque RGB picture of its size.
QImage Render(const ArtworkEntry& entry);

// The entry drawn into an opaque RGB picture of `pixels` (both sides at least
// 1): its drawing at its own size, scaled as a whole, so that every line and
// margin keeps its share of the picture. At the entry's own size this is
// exactly Render(entry).
QImage Render(const ArtworkEntry& entry, QSize pixels);

}  // namespace kavrel::artwork
