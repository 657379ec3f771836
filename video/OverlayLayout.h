#pragma once
// Where the texts drawn over a video window's picture go, computed from the
// picture's area, the font and the texts alone, so that none of them runs
// into another or past the area at any size of window or tile:
//
//   top left: a wall tile's state          top right: the REC badge
//   below them: the statistics panel
//   bottom left: "key frames only"          bottom right: the zoom badge
//
// A corner whose text does not fit beside its neighbour is shortened with an
// ellipsis (the state, "key frames only") or left out (the REC time and the
// zoom factor, which mean nothing cut short); the bottom corners are left out
// where the area is too low for both bands, and the statistics panel takes
// the form that fits between them (StatisticsPanel.h).
//
// Thread: the user-interface thread (fonts).

#include <QRect>
#include <QString>

#include "video/StatisticsPanel.h"

class QFontMetrics;

namespace kavrel {

struct OverlayTexts {
    QString state;          // empty: none
    QString record;         // the REC badge's elapsed time; empty: not recording
    QString zoom;           // the zoom factor; empty: not zoomed
    QString keyFramesOnly;  // empty: all frames are decoded
    const StatisticsPanel* statistics = nullptr;  // null: the panel is off
};

// A text in a translucent box; an empty box is not drawn.
struct OverlayBadge {
    QRect box;
    QRect textBox;  // as wide as `text` or wider
    QString text;   // shortened to fit, if it had to be
};

struct OverlayLayout {
    OverlayBadge state;
    OverlayBadge record;  // its textBox leaves room for the red dot on its left
    OverlayBadge zoom;
    OverlayBadge keyFramesOnly;
    StatisticsLayout statistics;
};

OverlayLayout LayOutOverlays(const QFontMetrics& font, const QRect& area,
                             const OverlayTexts& texts);

}  // namespace kavrel
