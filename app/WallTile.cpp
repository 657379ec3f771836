#include "app/WallTile.h"

#include <QPainter>
#include <algorithm>

#include "app/ReconnectPolicy.h"
#include "app/ViewingSession.h"

namespace kavrel {

void WallTile::SetSelected(bool selected) {
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

void WallTile::SetEmptyHint(const QString& hint) {
    m_emptyHint = hint;
    update();
}

void WallTile::paintEvent(QPaintEvent* event) {
    CVideoAtom::paintEvent(event);
    QPainter painter(this);
    if (!m_emptyHint.isEmpty()) {
        // Black whatever the video window draws without a picture.
        painter.fillRect(rect(), Qt::black);
        painter.setPen(QColor(160, 160, 160));
        painter.drawText(rect().adjusted(4, 4, -4, -4), Qt::AlignCenter | Qt::TextWordWrap,
                         m_emptyHint);
    }
    const QString state = StateText();
    if (!state.isEmpty()) {
        const QFontMetrics metrics(painter.font());
        const QRect box(4, 4, metrics.horizontalAdvance(state) + 8, metrics.height() + 4);
        painter.fillRect(box, QColor(0, 0, 0, 160));
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignCenter, state);
    }
    if (m_selected) {
        painter.setPen(QPen(QColor(255, 196, 0), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
}

QString WallTile::StateText() const {
    if (!m_session || !m_session->Watching())
        return {};
    if (m_session->RetryPending()) {
        QString text = m_session->Text(u"tile_retry_in");
        text.replace(QStringLiteral("%d"),
                     QString::number(std::max(1, SecondsLeft(m_session->RetryRemaining()))));
        return text;
    }
    if (!m_session->VideoReceived())
        return m_session->Text(u"tile_connecting");
    return {};
}

}  // namespace kavrel
