#include "video/StatisticsPanel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace kavrel {
namespace {

constexpr int kPadding = 6;  // inside the panel
constexpr int kColumnGap = 12;
constexpr int kGraphLines = 3;  // the graph is as tall as this many text lines

enum class Labels { kFull, kShort, kNone };

struct Form {
    Labels labels;
    bool graph;
};

constexpr Form kForms[] = {
    {Labels::kFull, true},
    {Labels::kShort, true},
    {Labels::kShort, false},
    {Labels::kNone, false},
};

QString LabelOf(const StatisticsPanel& panel, size_t row, Labels labels) {
    if (labels == Labels::kNone)
        return {};
    if (labels == Labels::kShort && row < panel.shortLabels.size() &&
        !panel.shortLabels[row].isEmpty())
        return panel.shortLabels[row];
    return panel.rows[row].first;
}

// The panel in `form` with its first `rows` rows, at the top left of `room`;
// empty when it does not fit there.
StatisticsLayout TryForm(const QFontMetrics& font, const QRect& room, const StatisticsPanel& panel,
                         Form form, size_t rows) {
    const int line = font.height();
    int labelWidth = 0;
    int valueWidth = 0;
    for (size_t row = 0; row < rows; ++row) {
        labelWidth = std::max(labelWidth, font.horizontalAdvance(LabelOf(panel, row, form.labels)));
        valueWidth = std::max(valueWidth, font.horizontalAdvance(panel.rows[row].second));
    }
    const std::pair<QString, QColor> legend[] = {
        {panel.graphTitle, Qt::lightGray},
        {panel.latencyLabel, kLatencyLineColour},
        {panel.bitRateLabel, kBitRateLineColour},
    };
    int legendWidth = 0;
    if (form.graph) {
        for (const auto& [text, colour] : legend)
            legendWidth += font.horizontalAdvance(text) + (legendWidth > 0 ? kColumnGap : 0);
    }
    const int rowWidth = labelWidth + (labelWidth > 0 ? kColumnGap : 0) + valueWidth;
    const int width = 2 * kPadding + std::max(rowWidth, legendWidth);
    const int height = 2 * kPadding + line * (int(rows) + (form.graph ? 1 + kGraphLines : 0));
    StatisticsLayout layout;
    if (width > room.width() || height > room.height())
        return layout;
    layout.box = QRect(room.topLeft(), QSize(width, height));
    const QRect inner = layout.box.adjusted(kPadding, kPadding, -kPadding, -kPadding);
    int y = inner.top();
    for (size_t row = 0; row < rows; ++row) {
        const QString label = LabelOf(panel, row, form.labels);
        if (!label.isEmpty())
            layout.texts.push_back(
                {QRect(inner.left(), y, font.horizontalAdvance(label), line), label, Qt::white});
        const QString& value = panel.rows[row].second;
        const int advance = font.horizontalAdvance(value);
        layout.texts.push_back(
            {QRect(inner.right() + 1 - advance, y, advance, line), value, Qt::white});
        y += line;
    }
    if (form.graph) {
        // The legend names each line in its own colour, a column gap apart.
        int x = inner.left();
        for (const auto& [text, colour] : legend) {
            const int advance = font.horizontalAdvance(text);
            layout.texts.push_back({QRect(x, y, advance, line), text, colour});
            x += advance + kColumnGap;
        }
        y += line;
        layout.graph = QRect(inner.left(), y, inner.width(), line * kGraphLines);
    }
    return layout;
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

StatisticsLayout LayOutStatisticsPanel(const QFontMetrics& font, const QRect& room,
                                       const StatisticsPanel& panel) {
    if (panel.rows.empty())
        return {};
    for (const Form& form : kForms) {
        StatisticsLayout layout = TryForm(font, room, panel, form, panel.rows.size());
        if (!layout.box.isEmpty())
            return layout;
    }
    // The values alone, as many as there are lines for.
    for (size_t rows = panel.rows.size() - 1; rows > 0; --rows) {
        StatisticsLayout layout = TryForm(font, room, panel, kForms[3], rows);
        if (!layout.box.isEmpty())
            return layout;
    }
    return {};
}

void PaintStatisticsPanel(QPainter& painter, const StatisticsLayout& layout,
                          const StatisticsPanel& panel) {
    if (layout.box.isEmpty())
        return;
    painter.save();
    painter.setClipRect(layout.box);
    painter.fillRect(layout.box, QColor(0, 0, 0, 170));
    for (const PanelText& text : layout.texts) {
        painter.setPen(text.colour);
        painter.drawText(text.box, Qt::AlignLeft | Qt::AlignVCenter, text.text);
    }
    if (!layout.graph.isEmpty()) {
        painter.setPen(QColor(255, 255, 255, 60));
        painter.drawRect(layout.graph.adjusted(0, 0, -1, -1));
        painter.setRenderHint(QPainter::Antialiasing, true);
        DrawSeries(painter, layout.graph, panel.bitRateKbps, kBitRateLineColour);
        DrawSeries(painter, layout.graph, panel.latencyMs, kLatencyLineColour);
    }
    painter.restore();
}

}  // namespace kavrel
