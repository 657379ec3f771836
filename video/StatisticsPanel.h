#pragma once
// The statistics panel drawn over a video window: rows of label and value,
// then a small graph of latency and bit rate over the last minute.
//
// The panel holds finished texts: whoever keeps the statistics formats the
// numbers (QLocale) and looks up the labels, a few times a second; the video
// window only draws what it was last given. User-interface thread.
//
// The panel takes the first of its forms that fits the room it is given, so
// that no text runs into another or is cut off in a small tile: the full
// labels with the graph, the short labels with the graph, the short labels
// alone, the values alone, and at last as many values as there are lines.

#include <QColor>
#include <QRect>
#include <QString>
#include <utility>
#include <vector>

class QFontMetrics;
class QPainter;

namespace kavrel {

struct StatisticsPanel {
    std::vector<std::pair<QString, QString>> rows;  // label, value
    // The rows' labels where room is short, in the order of `rows` (a row
    // without one keeps its label).
    std::vector<QString> shortLabels;
    // The graph: one value per second, oldest first; a negative latency is a
    // second without a picture (a gap in its line).
    QString graphTitle;
    QString latencyLabel;
    QString bitRateLabel;
    std::vector<double> latencyMs;
    std::vector<double> bitRateKbps;
    bool operator==(const StatisticsPanel&) const = default;
};

inline const QColor kLatencyLineColour{255, 210, 60};
inline const QColor kBitRateLineColour{80, 200, 255};

// One text of a laid-out panel: drawn left-aligned in `box`, which is as wide
// as the text in the font it was laid out with.
struct PanelText {
    QRect box;
    QString text;
    QColor colour;
};

// Where everything of a panel goes; an empty `box` draws nothing.
struct StatisticsLayout {
    QRect box;  // the translucent background
    std::vector<PanelText> texts;
    QRect graph;  // empty: no graph in this form
};

// The panel in the top-left corner of `room`, in the first form that fits it
// whole, in the font of `font`; an empty layout when not even one value fits.
StatisticsLayout LayOutStatisticsPanel(const QFontMetrics& font, const QRect& room,
                                       const StatisticsPanel& panel);
// Draws `layout` (made from `panel`).
void PaintStatisticsPanel(QPainter& painter, const StatisticsLayout& layout,
                          const StatisticsPanel& panel);

}  // namespace kavrel
