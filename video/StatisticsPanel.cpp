#include "video/StatisticsPanel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace kavrel {
namespace {

constexpr int kMargin = 4;   // between the area's edge and the panel
constexpr int kPadding = 6;  // inside the panel
constexpr int kColumnGap = 12;
constexpr int kGraphLines = 3;  // the graph is as tall as this many text lines

struct Metrics {
    int line = 0;
    int labelWidth = 0;
    int valueWidth = 0;
    int legendWidth = 0;
};

Metrics Measure(const QFontMetrics& font, const StatisticsPanel& panel) {
    Metrics m;
    m.line = font.height();
    for (const auto& [label, value] : panel.rows) {
        m.labelWidth = std::max(m.labelWidth, font.horizontalAdvance(label));
        m.valueWidth = std::max(m.valueWidth, font.horizontalAdvance(value));
    }
    m.legendWidth =
        font.horizontalAdvance(panel.graphTitle + QStringLiteral("  ") + panel.latencyLabel +
                               QStringLiteral("  ") + panel.bitRateLabel);
    return m;
}

// One line of the graph, scaled so that its largest value touches the top.
void DrawSeries(QPainter& painter, const QRect& box, const std::vector<double>& values,
                const QColor& colour) {
    if (values.size() < 2)
        return;
    const double top = *std::max_element(values.begin(), values.end());
    if (top <= 0)
        return;
    const double step = double(box.width() - 1) / double(values.size() - 1);
    QPainterPath path;
    bool drawing = false;
    for (size_t index = 0; index < values.size(); ++index) {
        if (values[index] < 0) {
            drawing = false;  // a gap: no picture in that second
            continue;
        }
        const QPointF at(box.left() + step * double(index),
                         box.bottom() - (box.height() - 1) * std::min(values[index] / top, 1.0));
        if (drawing)
            path.lineTo(at);
        else
            path.moveTo(at);
        drawing = true;
    }
    painter.setPen(QPen(colour, 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
}

}  // namespace

QRect StatisticsPanelRect(const QFontMetrics& font, const QRect& area,
                          const StatisticsPanel& panel) {
    const Metrics m = Measure(font, panel);
    const int width =
        2 * kPadding + std::max(m.labelWidth + kColumnGap + m.valueWidth, m.legendWidth);
    const int height = 2 * kPadding + m.line * (int(panel.rows.size()) + 1 + kGraphLines);
    return QRect(area.left() + kMargin, area.top() + kMargin, width, height).intersected(area);
}

void PaintStatisticsPanel(QPainter& painter, const QFontMetrics& font, const QRect& area,
                          const StatisticsPanel& panel) {
    if (panel.rows.empty())
        return;
    const QRect box = StatisticsPanelRect(font, area, panel);
    if (box.isEmpty())
        return;
    const Metrics m = Measure(font, panel);
    painter.save();
    painter.setClipRect(box);
    painter.fillRect(box, QColor(0, 0, 0, 170));
    const QRect inner = box.adjusted(kPadding, kPadding, -kPadding, -kPadding);

    int y = inner.top();
    painter.setPen(Qt::white);
    for (const auto& [label, value] : panel.rows) {
        const QRect line(inner.left(), y, inner.width(), m.line);
        painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, label);
        painter.drawText(line, Qt::AlignRight | Qt::AlignVCenter, value);
        y += m.line;
    }

    // The legend names each line in its own colour.
    QRect legend(inner.left(), y, inner.width(), m.line);
    painter.setPen(Qt::lightGray);
    painter.drawText(legend, Qt::AlignLeft | Qt::AlignVCenter, panel.graphTitle);
    legend.setLeft(legend.left() + font.horizontalAdvance(panel.graphTitle + QStringLiteral("  ")));
    painter.setPen(kLatencyLineColour);
    painter.drawText(legend, Qt::AlignLeft | Qt::AlignVCenter, panel.latencyLabel);
    legend.setLeft(legend.left() +
                   font.horizontalAdvance(panel.latencyLabel + QStringLiteral("  ")));
    painter.setPen(kBitRateLineColour);
    painter.drawText(legend, Qt::AlignLeft | Qt::AlignVCenter, panel.bitRateLabel);
    y += m.line;

    const QRect graph(inner.left(), y, inner.width(), m.line * kGraphLines);
    painter.setPen(QColor(255, 255, 255, 60));
    painter.drawRect(graph.adjusted(0, 0, -1, -1));
    painter.setRenderHint(QPainter::Antialiasing, true);
    DrawSeries(painter, graph, panel.bitRateKbps, kBitRateLineColour);
    DrawSeries(painter, graph, panel.latencyMs, kLatencyLineColour);
    painter.restore();
}

}  // namespace kavrel
