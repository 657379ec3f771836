#include "skin/CSkinButton.h"

#include <QPainter>

#include "skin/SkinBitmap.h"

namespace kavrel {

CSkinButton::CSkinButton(int bitmapId, int textPlacement, QWidget* parent)
    : QPushButton(parent), m_bitmapId(bitmapId), m_textPlacement(textPlacement) {
    // Inside a dialog a push button would otherwise become a default button
    // that the Enter key presses; the skin's buttons act only when pressed.
    setAutoDefault(false);
    setDefault(false);
    // The paint covers every pixel, so nothing needs erasing behind it.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CSkinButton::SetBitmap(int bitmapId) {
    m_bitmapId = bitmapId;
    update();
}

void CSkinButton::SetGreyed(bool greyed) {
    if (m_greyed == greyed)
        return;
    m_greyed = greyed;
    update();
}

void CSkinButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QRect item = rect();
    const int strip = ScreenHeightOf(*this) * 6 / 100;
    const QString label = text();
    const bool hasText = !label.isEmpty();

    painter.fillRect(item, Qt::black);
    if (!HasSkinPicture(m_bitmapId))
        return;

    QRect target = item;
    if (hasText && m_textPlacement != kTextCentre)
        target.setHeight(item.height() - strip);
    // A target with no height (a button lower than the strip) shows no bitmap.
    if (target.height() > 0 && target.width() > 0)
        DrawSkinPicture(painter, target, m_bitmapId);
    if (m_greyed)
        painter.fillRect(item, QColor(0, 0, 0, 160));

    if (!hasText)
        return;
    QRect textRect = item;
    int flags = 0;
    switch (m_textPlacement) {
        case kTextBottomLeft:
        case kTextBottomRight:
        case kTextBottomCentre:
            textRect.setTop(item.bottom() + 1 - strip);
            flags = Qt::AlignBottom | Qt::TextWordWrap |
                    (m_textPlacement == kTextBottomLeft    ? Qt::AlignLeft
                     : m_textPlacement == kTextBottomRight ? Qt::AlignRight
                                                           : Qt::AlignHCenter);
            break;
        case kTextCentre:
            flags = Qt::AlignCenter | Qt::TextWordWrap;
            break;
        default:
            return;  // measured only: nothing is drawn
    }
    painter.setFont(SkinFont(*this));
    painter.setPen(QColor(255, 255, 255));
    painter.drawText(textRect, flags, label);
}

}  // namespace kavrel
