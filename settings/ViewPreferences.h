#pragma once
// How the user left the window: its place and size, and whether pictures keep
// their aspect. Kept in the settings store beside the server history
// (settings/HistoryStore.h), so tests point both at one scratch file.
// User-interface thread; read at start, written when the program is left.

#include <QRect>

namespace kavrel {

struct ViewPreferences {
    QRect windowGeometry;    // the normal (not full-screen) window; invalid: none kept
    bool maximised = false;  // the window was maximised
    // Pictures keep their aspect with black bars: desktop cameras send 16:9
    // and 4:3, and stretching them into the video area distorts every face.
    bool keepAspect = true;
    // "clip_minutes": a recording starts a new file after this many minutes
    // (1 to 1440; read only, never written).
    int clipMinutes = 30;

    bool operator==(const ViewPreferences&) const = default;
};

// What was stored; missing or malformed values read as the defaults above
// (a hand-edited geometry that is not four numbers with a positive size is
// no geometry).
ViewPreferences LoadViewPreferences();

// One batch, one sync; false when the store could not be written.
bool SaveViewPreferences(const ViewPreferences& preferences);

}  // namespace kavrel
