#include "app/WallTile.h"

#include <QPainter>
#include <algorithm>

#include "app/ReconnectPolicy.h"
#include "app/ViewingSession.h"
#include "config/Localisation.h"

namespace kavrel {

WallTile::WallTile(QWidget* owner) : CVideoAtom(owner) {
    // A stream that cannot be decoded sends no picture that would repaint
    // the tile: its state is looked at now and then.
    m_stateCheck.setInterval(kStateCheck);
    connect(&m_stateCheck, &QTimer::timeout, this, [this] {
        if (isVisible() && StateText() != m_shownState)
            update();
    });
    m_stateCheck.start();
}

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
    m_shownState = StateText();
    QPainter painter(this);
    if (!m_emptyHint.isEmpty()) {
        // Black whatever the video window draws without a picture.
        painter.fillRect(rect(), Qt::black);
        painter.setPen(QColor(160, 160, 160));
        painter.drawText(rect().adjusted(4, 4, -4, -4), Qt::AlignCenter | Qt::TextWordWrap,
                         m_emptyHint);
    }
    if (m_selected) {
        painter.setPen(QPen(QColor(255, 196, 0), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
}

void WallTile::SetChannelMissing(bool missing) {
    if (m_channelMissing == missing)
        return;
    m_channelMissing = missing;
    update();
}

QString WallTile::StateText() const {
    if (!m_session)
        return {};
    if (m_channelMissing)
        return m_session->Text(u"tile_no_channel");
    if (!m_session->Watching()) {
        const std::u16string_view reason = m_session->StopReason();
        return reason.empty() ? QString() : m_session->Text(reason);
    }
    if (m_session->RetryPending()) {
        return FillNumber(m_session->Text(u"tile_retry_in"),
                          std::max(1, SecondsLeft(m_session->RetryRemaining())));
    }
    if (!m_session->VideoReceived())
        return m_session->Text(u"tile_connecting");
    switch (Pipeline().Trouble()) {
        case DecodeTrouble::kUndecodable:
            return m_session->Text(u"tile_cannot_decode");
        case DecodeTrouble::kTooLarge:
            return m_session->Text(u"tile_too_large");
        case DecodeTrouble::kNone:
            break;
    }
    return {};
}

}  // namespace kavrel
