#pragma once
// The statistics panel drawn over a video window: rows of label and value,
// then a small graph of latency and bit rate over the last minute.
//
// The panel holds finished texts: whoever keeps the statistics formats the
// numbers (QLocale) and looks up the labels, a few times a second; the video
// window only draws what it was last given. User-interface thread.

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

// Where the panel lies in `area` (its top-left corner, clipped to `area`) in
// the font of `font`.
QRect StatisticsPanelRect(const QFontMetrics& font, const QRect& area,
                          const StatisticsPanel& panel);
// Draws the translucent panel into `area` in the font of `font` (the
// painter's); nothing for an empty panel.
void PaintStatisticsPanel(QPainter& painter, const QFontMetrics& font, const QRect& area,
                          const StatisticsPanel& panel);

}  // namespace kavrel
