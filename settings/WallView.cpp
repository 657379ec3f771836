#include "settings/WallView.h"

#include <array>

namespace kavrel {
namespace {

constexpr std::array<std::u16string_view, 5> kLayoutNames = {u"1", u"2x2", u"3x3", u"4x4", u"1+5"};

// The five small tiles of 1+5, after the large one: down the right side,
// then along the bottom from the left.
constexpr std::array<WallCell, 6> kOnePlusFive = {{
    {0, 0, 2},
    {2, 0, 1},
    {2, 1, 1},
    {0, 2, 1},
    {1, 2, 1},
    {2, 2, 1},
}};

}  // namespace

int TileCount(WallLayout layout) {
    switch (layout) {
        case WallLayout::Single:
            return 1;
        case WallLayout::Grid2:
            return 4;
        case WallLayout::Grid3:
            return 9;
        case WallLayout::Grid4:
            return 16;
        case WallLayout::OnePlusFive:
            return 6;
    }
    return 1;
}

int GridSide(WallLayout layout) {
    switch (layout) {
        case WallLayout::Single:
            return 1;
        case WallLayout::Grid2:
            return 2;
        case WallLayout::Grid3:
        case WallLayout::OnePlusFive:
            return 3;
        case WallLayout::Grid4:
            return 4;
    }
    return 1;
}

WallCell TileCell(WallLayout layout, int index) {
    if (layout == WallLayout::OnePlusFive)
        return kOnePlusFive[size_t(index)];
    const int side = GridSide(layout);
    return {index % side, index / side, 1};
}

std::u16string_view LayoutName(WallLayout layout) {
    return kLayoutNames[size_t(layout)];
}

bool ParseLayoutName(std::u16string_view name, WallLayout& layout) {
    for (size_t i = 0; i < kLayoutNames.size(); ++i) {
        if (kLayoutNames[i] == name) {
            layout = WallLayout(int(i));
            return true;
        }
    }
    return false;
}

}  // namespace kavrel
