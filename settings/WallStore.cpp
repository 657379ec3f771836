#include "settings/WallStore.h"

#include <algorithm>
#include <charconv>

#include "settings/HistoryStore.h"
#include "settings/WindowPlaces.h"

namespace kavrel {
namespace {

constexpr std::u16string_view kFormTag = u"wall1";
constexpr std::u16string_view kEmptyTile = u"-";
constexpr char16_t kTokenSeparator = u' ';
constexpr char16_t kFieldSeparator = u'/';
constexpr size_t kTileFields = 7;
// Camera channels a server can have (0-based 0 to 31), as the channel buttons.
constexpr int kMaxChannels = 32;
constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

bool IsUnreserved(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
           c == u'-' || c == u'.' || c == u'_' || c == u'~';
}

void AppendHex(std::u16string& out, unsigned value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out += kHexDigits[(value >> shift) & 0xF];
}

std::u16string Encode(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (IsUnreserved(c)) {
            out += c;
        } else if (c < 0x100) {
            out += u'%';
            AppendHex(out, c, 2);
        } else {
            out += u"%u";
            AppendHex(out, c, 4);
        }
    }
    return out;
}

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;  // lower case is not written, so it is not the form
}

// Reads `digits` hexadecimal digits at `at`; -1 when they are not there.
long ReadHex(std::u16string_view text, size_t at, size_t digits) {
    if (at + digits > text.size())
        return -1;
    long value = 0;
    for (size_t i = 0; i < digits; ++i) {
        const int digit = HexValue(text[at + i]);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

// The exact inverse of Encode; none for any text Encode cannot have made
// (so a hand-edited value is refused rather than read differently).
std::optional<std::u16string> Decode(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const char16_t c = text[i];
        if (IsUnreserved(c)) {
            out += c;
            ++i;
            continue;
        }
        if (c != u'%')
            return std::nullopt;
        if (i + 1 < text.size() && text[i + 1] == u'u') {
            const long unit = ReadHex(text, i + 2, 4);
            if (unit < 0x100)
                return std::nullopt;
            out += char16_t(unit);
            i += 6;
        } else {
            const long unit = ReadHex(text, i + 1, 2);
            if (unit < 0 || IsUnreserved(char16_t(unit)))
                return std::nullopt;
            out += char16_t(unit);
            i += 3;
        }
    }
    return out;
}

// A whole decimal number with an optional minus sign and nothing else (no
// blanks, no plus sign): stored numbers are ours, not typed by a user.
std::optional<int> ParseNumber(std::u16string_view text) {
    if (text.empty() || text.size() > 11)
        return std::nullopt;
    std::string narrow;
    for (char16_t c : text) {
        if (c > 0x7F)
            return std::nullopt;
        narrow += char(c);
    }
    int value = 0;
    const char* end = narrow.data() + narrow.size();
    const auto [ptr, ec] = std::from_chars(narrow.data(), end, value);
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

std::u16string Number(int value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

std::vector<std::u16string_view> Split(std::u16string_view text, char16_t separator) {
    std::vector<std::u16string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        if (at == std::u16string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
}

std::u16string FormatTile(const TileSource& tile) {
    if (tile == TileSource{})
        return std::u16string(kEmptyTile);
    const ServerSettings& server = tile.server;
    std::u16string out;
    for (std::u16string_view text :
         {server.address, server.port, server.userName, server.password}) {
        out += Encode(text);
        out += kFieldSeparator;
    }
    out += Number(server.channel);
    out += kFieldSeparator;
    out += Number(int(tile.variant));
    out += kFieldSeparator;
    out += Number(tile.channel);
    return out;
}

// An empty tile for anything that is not a tile FormatTile wrote.
TileSource ParseTile(std::u16string_view text) {
    if (text == kEmptyTile)
        return {};
    const std::vector<std::u16string_view> fields = Split(text, kFieldSeparator);
    if (fields.size() != kTileFields)
        return {};
    std::optional<std::u16string> texts[4];
    for (size_t i = 0; i < 4; ++i) {
        texts[i] = Decode(fields[i]);
        if (!texts[i])
            return {};
    }
    const std::optional<int> serverChannel = ParseNumber(fields[4]);
    const std::optional<int> variant = ParseNumber(fields[5]);
    const std::optional<int> channel = ParseNumber(fields[6]);
    if (!serverChannel || *serverChannel < -1 || *serverChannel >= kMaxChannels || !variant ||
        (*variant != int(ProtocolVariant::Current) && *variant != int(ProtocolVariant::Legacy)) ||
        !channel || *channel < 0 || *channel >= kMaxChannels) {
        return {};
    }
    TileSource tile;
    tile.server = {std::move(*texts[0]), std::move(*texts[1]), std::move(*texts[2]),
                   std::move(*texts[3]), *serverChannel};
    tile.variant = ProtocolVariant(*variant);
    tile.channel = *channel;
    return tile;
}

bool ValidSlot(int slot) {
    return slot >= 1 && slot <= kNamedViews;
}

std::optional<NamedView> ReadView(std::u16string_view valueName) {
    std::u16string text;
    if (!ReadRegistryString(valueName, text) || text.empty())
        return std::nullopt;
    return ParseWallView(text);
}

}  // namespace

std::u16string NamedViewValueName(int slot) {
    return u"wall_view" + Number(slot);
}

std::u16string FormatWallView(const WallView& view, std::u16string_view name) {
    std::u16string out(kFormTag);
    out += kTokenSeparator;
    out += LayoutName(view.layout);
    out += kTokenSeparator;
    out += view.fullScreen ? u'1' : u'0';
    out += kTokenSeparator;
    out += Encode(name);
    const size_t tiles = std::min(view.tiles.size(), size_t(TileCount(view.layout)));
    for (size_t i = 0; i < tiles; ++i) {
        out += kTokenSeparator;
        out += FormatTile(view.tiles[i]);
    }
    return out;
}

std::optional<NamedView> ParseWallView(std::u16string_view text) {
    const std::vector<std::u16string_view> tokens = Split(text, kTokenSeparator);
    if (tokens.size() < 4 || tokens[0] != kFormTag)
        return std::nullopt;
    NamedView named;
    if (!ParseLayoutName(tokens[1], named.view.layout))
        return std::nullopt;
    if (tokens[2] != u"0" && tokens[2] != u"1")
        return std::nullopt;
    named.view.fullScreen = tokens[2] == u"1";
    std::optional<std::u16string> name = Decode(tokens[3]);
    if (!name)
        return std::nullopt;
    named.name = std::move(*name);
    const size_t tiles = tokens.size() - 4;
    if (tiles > size_t(TileCount(named.view.layout)))
        return std::nullopt;
    named.view.tiles.reserve(tiles);
    for (size_t i = 4; i < tokens.size(); ++i)
        named.view.tiles.push_back(ParseTile(tokens[i]));
    return named;
}

std::optional<WallView> LoadCurrentWallView(int window) {
    std::optional<NamedView> named = ReadView(WindowValueName(kCurrentWallViewName, window));
    if (!named)
        return std::nullopt;
    return std::move(named->view);
}

bool SaveCurrentWallView(const WallView& view, int window) {
    return WriteRegistryStrings(
        {{WindowValueName(kCurrentWallViewName, window), FormatWallView(view)}});
}

std::optional<NamedView> LoadNamedView(int slot) {
    if (!ValidSlot(slot))
        return std::nullopt;
    return ReadView(NamedViewValueName(slot));
}

bool SaveNamedView(int slot, const NamedView& view) {
    if (!ValidSlot(slot))
        return false;
    const std::u16string name = NamedViewValueName(slot);
    return WriteRegistryStrings({{name, FormatWallView(view.view, view.name)}});
}

std::array<std::optional<NamedView>, kNamedViews> LoadNamedViews() {
    std::array<std::optional<NamedView>, kNamedViews> views;
    for (int slot = 1; slot <= kNamedViews; ++slot)
        views[size_t(slot - 1)] = LoadNamedView(slot);
    return views;
}

std::vector<int> FilledViewSlots() {
    std::vector<int> filled;
    const auto views = LoadNamedViews();
    for (int slot = 1; slot <= kNamedViews; ++slot) {
        if (views[size_t(slot - 1)])
            filled.push_back(slot);
    }
    return filled;
}

int LoadTourSeconds() {
    std::u16string text;
    if (!ReadRegistryString(kTourSecondsName, text))
        return kDefaultTourSeconds;
    const std::optional<int> seconds = ParseNumber(text);
    if (!seconds || *seconds < kMinTourSeconds || *seconds > kMaxTourSeconds)
        return kDefaultTourSeconds;
    return *seconds;
}

bool SaveTourSeconds(int seconds) {
    const int kept = std::clamp(seconds, kMinTourSeconds, kMaxTourSeconds);
    return WriteRegistryStrings({{kTourSecondsName, Number(kept)}});
}

bool LoadTourOn(int window) {
    std::u16string text;
    return ReadRegistryString(WindowValueName(kTourOnName, window), text) && text == u"1";
}

bool SaveTourOn(bool on, int window) {
    return WriteRegistryStrings({{WindowValueName(kTourOnName, window), on ? u"1" : u"0"}});
}

}  // namespace kavrel
