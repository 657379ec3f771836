#pragma once
// The camera wall's views in the settings store (settings/HistoryStore.h,
// settings.ini, mode 0600): the view on screen when the program was left, up
// to kNamedViews views the user saved in slots 1 to 9, and the tour's
// interval. Each save is one write with one sync.
//
// Stored values:
//   "wall_current"          the current view
//   "wall_view1" ... "wall_view9"  the named views
//   "tour_seconds"          the tour's interval, decimal seconds
//   "tour_on"               "1" while a tour runs (it runs again at the next
//                           start), else "0" or absent
//
// Text form of one view: tokens separated by single spaces, nothing else
//
//   wall1 <layout> <full screen> <name> <tile> <tile> ...
//
//   wall1        the form's tag; any other first token is no view
//   layout       "1", "2x2", "3x3", "4x4" or "1+5" (LayoutName)
//   full screen  "1" or "0"
//   name         the view's name, encoded as below; empty for none
//   tile         "-" for a tile equal to TileSource{} (nothing shown), else
//                seven fields joined by "/":
//                address/port/userName/password/serverChannel/dialect/channel
//                the four texts encoded as below, serverChannel the server
//                record's channel (-1 to 31, not used by the wall), dialect
//                0 (Current) or 1 (Legacy), channel 0 to 31
//
// Text encoding: each UTF-16 code unit of A-Z a-z 0-9 - . _ ~ stays as it
// is; any other unit below 0x100 becomes "%XX", the rest "%uXXXX" (upper-case
// hexadecimal). The stored text is thus plain ASCII without spaces or "/",
// whatever an address, user name or password holds (separators, quotes,
// line breaks, unpaired surrogates), and every text comes back exactly.
//
// At most TileCount(layout) tiles are written (more are never shown); fewer
// are kept as fewer, so a view reads back equal to what was saved.
//
// Bad stored text (hand-edited, truncated, from a later version): a wrong tag,
// an unknown layout, a full-screen flag other than "0"/"1", a name that does
// not decode, or more tiles than the layout holds read as no view. A tile
// whose own fields are bad (a field missing or extra, a text that does not
// decode, a number out of range) reads as an empty tile; the rest of the view
// stays.
//
// Threads: each call opens the store itself (QSettings is reentrant; its file
// lock orders writers), so any thread may call, one call per value at a time.
// The main window loads on the user-interface thread, at start and never per
// frame; it saves only through its settings writer's thread
// (app/SettingsWriter.h), so that no sync of the file runs on the
// user-interface thread.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/WallView.h"

namespace kavrel {

inline constexpr std::u16string_view kCurrentWallViewName = u"wall_current";
inline constexpr std::u16string_view kTourSecondsName = u"tour_seconds";
inline constexpr std::u16string_view kTourOnName = u"tour_on";

inline constexpr int kDefaultTourSeconds = 10;
inline constexpr int kMinTourSeconds = 3;
inline constexpr int kMaxTourSeconds = 3600;

// A view the user saved in one of the slots 1 to kNamedViews.
struct NamedView {
    // What the user called it; empty when no name was given (the wall then
    // shows its localised "view_name" with the slot number).
    std::u16string name;
    WallView view;
    bool operator==(const NamedView&) const = default;
};

// The value name of slot `slot` ("wall_view3"); slot must be 1 to kNamedViews.
std::u16string NamedViewValueName(int slot);

// The text form above, and back. Parsing never fails loudly: no view, or
// empty tiles, as described.
std::u16string FormatWallView(const WallView& view, std::u16string_view name = {});
std::optional<NamedView> ParseWallView(std::u16string_view text);

// The view on screen in main window `window` (settings/WindowPlaces.h) when
// the program was left; none when nothing (or nothing readable) is stored.
// Window 1 keeps it in "wall_current", window k in "wall_current<k>".
std::optional<WallView> LoadCurrentWallView(int window = 1);
bool SaveCurrentWallView(const WallView& view, int window = 1);

// Slot 1 to kNamedViews. Loading an empty slot, an unreadable one or a slot
// out of range gives none; saving to a slot out of range writes nothing and
// returns false. Saving overwrites what the slot held.
std::optional<NamedView> LoadNamedView(int slot);
bool SaveNamedView(int slot, const NamedView& view);

// All slots at once, element 0 for slot 1.
std::array<std::optional<NamedView>, kNamedViews> LoadNamedViews();
// The slots (1-based, ascending) that hold a readable view: the tour's list.
std::vector<int> FilledViewSlots();

// Seconds between the tour's steps: kDefaultTourSeconds when absent or not a
// whole number from kMinTourSeconds to kMaxTourSeconds. Saving brings the
// value into that range first.
int LoadTourSeconds();
bool SaveTourSeconds(int seconds);

// A tour was running in main window `window` when the program was left
// (anything but "1": no); window k keeps it in "tour_on<k>".
bool LoadTourOn(int window = 1);
bool SaveTourOn(bool on, int window = 1);

}  // namespace kavrel
