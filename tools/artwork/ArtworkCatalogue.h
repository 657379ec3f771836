#pragma once
// Every picture the program loads by id, with its size and how it is drawn.

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

}  // namespace kavrel::artwork
