#include "skin/CSkinStatic.h"

#include <QPainter>

#include "skin/SkinBitmap.h"

namespace kavrel {

CSkinStatic::CSkinStatic(int bitmapId, QWidget* parent) : QLabel(parent), m_bitmapId(bitmapId) {
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

int CSkinStatic::TextOffset(int screenHeight) {
    return static_cast<int>((static_cast<float>(screenHeight) * 0.625f) * 0.01f);
}

void CSkinStatic::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QRect client = rect();
    const QString label = text();

    if (m_bitmapId == 0) {
        painter.fillRect(client, Qt::black);
    } else if (m_bitmapId != -1) {
        if (!HasSkinPicture(m_bitmapId))
            return;
        DrawSkinPicture(painter, client, m_bitmapId);
    }
    if (label.isEmpty())
        return;

    QRect textRect = client;
    textRect.setTop(client.top() + TextOffset(ScreenHeightOf(*this)));
    const Qt::Alignment horizontal = alignment() & Qt::AlignHorizontal_Mask;
    int flags = int(horizontal == Qt::Alignment() ? Qt::AlignLeft : horizontal) | Qt::AlignTop;
    if (wordWrap())
        flags |= Qt::TextWordWrap;
    painter.setFont(SkinFont(*this));
    painter.setPen(QColor(0, 0, 0));
    painter.drawText(textRect, flags, label);
}

}  // namespace kavrel
