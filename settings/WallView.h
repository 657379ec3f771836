#pragma once
// What a camera wall shows: a layout and, per tile, a source (a server and
// one of its channels, or nothing). The wall widget (app/) lays it out and
// plays it; the settings store keeps the current one and up to
// kNamedViews named ones, so that a wall left running comes back after a
// restart. Plain values; callable from any thread.

#include <string>
#include <string_view>
#include <vector>

#include "config/ServerSettings.h"
#include "protocol/WireFormat.h"

namespace kavrel {

// 1 (the single view), 2x2, 3x3, 4x4, and one tile of 2x2 cells in the top
// left of a 3x3 grid with five single cells around it.
enum class WallLayout : int { Single = 0, Grid2 = 1, Grid3 = 2, Grid4 = 3, OnePlusFive = 4 };

inline constexpr int kNamedViews = 9;
inline constexpr int kMaxWallTiles = 16;

// Where a tile lies, in cells of the layout's square grid.
struct WallCell {
    int column = 0;
    int row = 0;
    int span = 1;  // cells wide and high
    bool operator==(const WallCell&) const = default;
};

int TileCount(WallLayout layout);
// Cells per side of the layout's grid (1, 2, 3, 4, 3).
int GridSide(WallLayout layout);
// The cell of tile `index` (0-based, reading order; in 1+5 the large tile
// is tile 0). `index` must be below TileCount.
WallCell TileCell(WallLayout layout, int index);
// "1", "2x2", "3x3", "4x4", "1+5": the stored and shown names.
std::u16string_view LayoutName(WallLayout layout);
// The layout of a stored name; false for anything else.
bool ParseLayoutName(std::u16string_view name, WallLayout& layout);

// A tile's camera: the server as the history holds it (its channel field
// is not used), the dialect the viewer found it to speak, and the channel
// (0-based). No address: an empty tile.
struct TileSource {
    ServerSettings server;
    ProtocolVariant variant = ProtocolVariant::Current;
    int channel = 0;
    bool Empty() const { return server.address.empty(); }
    bool operator==(const TileSource&) const = default;
};

struct WallView {
    WallLayout layout = WallLayout::Grid2;
    std::vector<TileSource> tiles;  // TileCount(layout) of them once shown
    bool fullScreen = false;
    bool operator==(const WallView&) const = default;
};

}  // namespace kavrel
