#pragma once
// The main windows that were open, each on its monitor, so that a wall of
// several monitors comes back as it was. Window 1 is the main window, the
// one a single-window start always had; windows 2 and up were opened beside
// it (`kavrel --screen N` while one runs). Kept in the settings store
// (settings/HistoryStore.h) beside the window preferences.
//
// Stored values:
//   "window_monitor"     the name of the monitor the main window was on
//                        (QScreen::name); absent in a store of the version
//                        that had one window, which then opens as it did
//   "window_fullscreen"  "1" when it was full screen, else "0"
//   "window_monitor<k>", "window_fullscreen<k>"  the same for window k >= 2
//   "windows"            the numbers of the other windows open, ascending,
//                        separated by single spaces ("2 3"); absent or empty:
//                        the main window alone
// Each window's view and tour are WallStore's values for its number (window
// 1's are the ones a single window always kept).
//
// Bad stored text reads as nothing stored: a place that is not a name and
// "0"/"1" as none, a number in "windows" outside 2 to kMaxMainWindows as
// absent. Threads: as WallStore (each call opens the store itself).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

// Main windows at once: more than any desk has monitors.
inline constexpr int kMaxMainWindows = 16;

struct WindowPlace {
    std::u16string monitor;  // QScreen::name; empty: unknown
    bool fullScreen = false;
    bool operator==(const WindowPlace&) const = default;
};

// `name` for window 1, `name` followed by the number for the others.
std::u16string WindowValueName(std::u16string_view name, int window);

// None when nothing (or nothing readable) is stored for `window`.
std::optional<WindowPlace> LoadWindowPlace(int window);
bool SaveWindowPlace(int window, const WindowPlace& place);

// The numbers of the windows open beside the main one, ascending, no repeats.
std::vector<int> LoadOtherWindows();
bool SaveOtherWindows(const std::vector<int>& windows);

}  // namespace kavrel
