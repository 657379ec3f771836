// Stored wall views: any text parses without crashing into no view or a
// view the layout can hold, which formats back to a text that parses the
// same; and a view built from arbitrary field texts (any UTF-16 code units,
// unpaired surrogates included) comes back exactly.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/TextCodec.h"
#include "settings/WallStore.h"

namespace {

using namespace kavrel;

void CheckStoredText(const std::u16string& text) {
    const std::optional<NamedView> parsed = ParseWallView(text);
    if (!parsed)
        return;
    const WallView& view = parsed->view;
    if (view.tiles.size() > size_t(TileCount(view.layout)))
        __builtin_trap();
    for (const TileSource& tile : view.tiles) {
        if (tile.channel < 0 || tile.channel > 31 || tile.server.channel < -1 ||
            tile.server.channel > 31) {
            __builtin_trap();
        }
    }
    if (ParseWallView(FormatWallView(view, parsed->name)) != parsed)
        __builtin_trap();
}

// The input's bytes, two at a time, as UTF-16 code units cut at each zero.
std::vector<std::u16string> Pieces(const uint8_t* data, size_t size) {
    std::vector<std::u16string> pieces(1);
    for (size_t i = 0; i + 1 < size; i += 2) {
        const char16_t unit = char16_t(data[i] | (data[i + 1] << 8));
        if (unit == 0)
            pieces.emplace_back();
        else
            pieces.back().push_back(unit);
    }
    return pieces;
}

void CheckRoundTrip(const uint8_t* data, size_t size) {
    if (size < 2)
        return;
    std::vector<std::u16string> pieces = Pieces(data + 2, size - 2);
    NamedView named;
    named.view.layout = WallLayout(data[0] % 5);
    named.view.fullScreen = (data[1] & 1) != 0;
    named.name = pieces[0];
    for (size_t i = 1; i + 3 < pieces.size(); i += 4) {
        TileSource tile;
        tile.server = {pieces[i], pieces[i + 1], pieces[i + 2], pieces[i + 3], int(i % 33) - 1};
        tile.variant = ProtocolVariant(i & 1);
        tile.channel = int((i * 7 + data[1]) % 32);
        named.view.tiles.push_back(tile);
    }
    const std::u16string stored = FormatWallView(named.view, named.name);
    if (named.view.tiles.size() > size_t(TileCount(named.view.layout)))
        named.view.tiles.resize(size_t(TileCount(named.view.layout)));
    if (ParseWallView(stored) != named)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckStoredText(FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size)));
    CheckRoundTrip(data, size);
    return 0;
}
