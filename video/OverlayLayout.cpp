#include "video/OverlayLayout.h"

#include <QFontMetrics>

namespace kavrel {
namespace {

constexpr int kMargin = 4;   // between the area's edge, or another badge, and a badge
constexpr int kPadding = 4;  // left and right of a badge's text

// `text` as it fits `width` pixels: whole, shortened with an ellipsis, or
// empty when not even that fits.
QString Fitted(const QFontMetrics& font, const QString& text, int width) {
    if (font.horizontalAdvance(text) <= width)
        return text;
    const QString elided = font.elidedText(text, Qt::ElideRight, width);
    if (elided.isEmpty() || font.horizontalAdvance(elided) > width)
        return {};
    return elided;
}

// A badge of `text` (already fitted) whose box starts at `x` (left edge) or
// ends at `x` (right edge, exclusive), `lead` pixels before the text.
OverlayBadge Badge(const QFontMetrics& font, const QString& text, int x, bool fromRight, int y,
                   int height, int lead) {
    const int advance = font.horizontalAdvance(text);
    const int width = lead + advance + 2 * kPadding;
    OverlayBadge badge;
    badge.text = text;
    badge.box = QRect(fromRight ? x - width : x, y, width, height);
    badge.textBox = QRect(badge.box.left() + lead + kPadding, y, advance, height);
    return badge;
}

// One band of two corners: `right` keeps its whole text or is left out, then
// `left` takes what room is left, shortened if need be. True when it holds
// either.
bool LayOutBand(const QFontMetrics& font, const QRect& area, int y, int height, int rightLead,
                const QString& leftText, const QString& rightText, OverlayBadge& left,
                OverlayBadge& right) {
    const int begin = area.left() + kMargin;
    int end = area.right() + 1 - kMargin;
    if (!rightText.isEmpty() &&
        rightLead + font.horizontalAdvance(rightText) + 2 * kPadding <= end - begin) {
        right = Badge(font, rightText, end, true, y, height, rightLead);
        end = right.box.left() - kMargin;
    }
    if (!leftText.isEmpty()) {
        const QString fitted = Fitted(font, leftText, end - begin - 2 * kPadding);
        if (!fitted.isEmpty())
            left = Badge(font, fitted, begin, false, y, height, 0);
    }
    return !left.box.isEmpty() || !right.box.isEmpty();
}

}  // namespace

OverlayLayout LayOutOverlays(const QFontMetrics& font, const QRect& area,
                             const OverlayTexts& texts) {
    OverlayLayout layout;
    const int height = font.height() + 4;
    int top = area.top() + kMargin;
    int bottom = area.bottom() + 1 - kMargin;  // exclusive
    if (height <= bottom - top && LayOutBand(font, area, top, height, height, texts.state,
                                             texts.record, layout.state, layout.record))
        top += height + kMargin;
    if (height <= bottom - top &&
        LayOutBand(font, area, bottom - height, height, 0, texts.keyFramesOnly, texts.zoom,
                   layout.keyFramesOnly, layout.zoom))
        bottom -= height + kMargin;
    if (texts.statistics) {
        const QRect room(area.left() + kMargin, top, area.width() - 2 * kMargin, bottom - top);
        layout.statistics = LayOutStatisticsPanel(font, room, *texts.statistics);
    }
    return layout;
}

}  // namespace kavrel
