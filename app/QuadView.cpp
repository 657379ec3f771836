#include "app/QuadView.h"

#include <QPainter>
#include <QResizeEvent>
#include <QTimer>
#include <algorithm>

#include "app/ReconnectPolicy.h"
#include "app/StreamStatistics.h"
#include "video/CVideoAtom.h"

namespace kavrel {
namespace {

// Asks the decode thread of every tile that plays to end, without waiting:
// the stops that follow then find the four threads ending side by side
// instead of ending each in turn.
template <typename Entries>
void RequestDecodeStops(const Entries& entries) {
    for (const auto& entry : entries) {
        if (entry.tile && entry.session && entry.session->Watching())
            entry.tile->Pipeline().RequestStop();
    }
}

}  // namespace

// A tile: a video window that also draws its session's short state in its
// top left corner and, when selected, a thin highlighted frame. Both are drawn
// over the picture on screen only; the picture itself (LatestPicture, Capture)
// stays untouched.
class QuadTile : public CVideoAtom {
  public:
    explicit QuadTile(QWidget* owner) : CVideoAtom(owner) {}

    void SetSession(const ViewingSession* session) { m_session = session; }
    void SetSelected(bool selected) {
        if (m_selected == selected)
            return;
        m_selected = selected;
        update();
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        CVideoAtom::paintEvent(event);
        QPainter painter(this);
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

  private:
    // "…" while the session connects, the count-down while a retry waits,
    // nothing while pictures come or nobody watches.
    QString StateText() const {
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

    const ViewingSession* m_session = nullptr;
    bool m_selected = false;
};

QuadView::QuadView(QWidget* owner) : QWidget(owner) {
    // The lines between the tiles are this widget's own black.
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    hide();
}

QuadView::~QuadView() {
    Clear();
}

void QuadView::Clear() {
    CancelStarts();
    RequestDecodeStops(m_tiles);
    // The sessions first: their receive threads feed the tiles.
    for (Entry& entry : m_tiles)
        entry.session.reset();
    for (Entry& entry : m_tiles) {
        if (!entry.tile)
            continue;
        entry.tile->StopDecoding();
        entry.tile->hide();
        // Later: this may run inside one of the tile's own event handlers (a
        // double-click that opens the single view).
        entry.tile->deleteLater();
        entry.tile = nullptr;
    }
}

void QuadView::ShowPage(int first, const Setup& setup, int selected) {
    Clear();
    m_first = first;
    m_channelCount = setup.channelCount;
    m_selected = selected >= 0 && selected < kTiles ? selected : 0;
    for (int index = 0; index < kTiles; ++index) {
        Entry& entry = m_tiles[size_t(index)];
        auto* tile = new QuadTile(this);
        tile->setObjectName(QStringLiteral("quad_tile_%1").arg(index));
        tile->SetFullScreen(true, false);  // the picture fills the tile; the lines are ours
        tile->SetKeepAspect(m_keepAspect);
        if (setup.snapshotWorker)
            tile->Pipeline().ShareSnapshotWorker(setup.snapshotWorker);
        tile->Pipeline().Snapshots().SetFolder(setup.snapshotFolder);
        tile->setContextMenuPolicy(Qt::CustomContextMenu);
        entry.tile = tile;

        entry.session = std::make_unique<ViewingSession>();
        ViewingSession* session = entry.session.get();
        session->Attach(tile, setup.languageIndex);
        session->SetServer(setup.server);
        session->SetVariant(setup.variant);
        session->SetCurrentChannel(ChannelOf(index));
        tile->SetSession(session);
        tile->SetSelected(index == m_selected);

        connect(session, &ViewingSession::statusShown, this, [this, index](const QString& text) {
            Repaint(index);
            if (index == m_selected)
                emit statusShown(text);
        });
        connect(session, &ViewingSession::watchingChanged, this, [this, index] {
            Repaint(index);
            emit watchingChanged();
        });
        connect(session, &ViewingSession::channelCountReported, this,
                &QuadView::channelCountReported);
        connect(tile, &CVideoAtom::tapped, this, [this, index] { emit tileTapped(index); });
        connect(tile, &CVideoAtom::doubleTapped, this,
                [this, index] { emit tileDoubleTapped(index); });
        connect(tile, &QWidget::customContextMenuRequested, this,
                [this, tile](const QPoint& at) { emit menuRequested(tile->mapToGlobal(at)); });
    }
    PlaceTiles();
    if (setup.watch)
        StartAll();
}

CVideoAtom* QuadView::Tile(int index) const {
    if (index < 0 || index >= kTiles)
        return nullptr;
    return m_tiles[size_t(index)].tile;
}

ViewingSession* QuadView::Session(int index) const {
    if (index < 0 || index >= kTiles)
        return nullptr;
    return m_tiles[size_t(index)].session.get();
}

void QuadView::Select(int index) {
    if (index < 0 || index >= kTiles || !HasTiles())
        return;
    m_selected = index;
    for (int k = 0; k < kTiles; ++k)
        m_tiles[size_t(k)].tile->SetSelected(k == index);
    // The status line now speaks of the selected tile: its statistics, if
    // its stream has been announced.
    const ViewingSession& session = SelectedSession();
    if (session.VideoReceived()) {
        emit statusShown(QString::fromStdString(
            StreamStatisticsLine(session.CurrentChannel(), session.LastStreamFormat(),
                                 StatisticsSeparator::AfterTimer)));
    }
}

void QuadView::LimitChannels(int channelCount) {
    m_channelCount = channelCount;
    for (int index = 0; index < kTiles; ++index) {
        ViewingSession* session = m_tiles[size_t(index)].session.get();
        if (session && ChannelOf(index) >= channelCount && session->Watching())
            session->Stop();
    }
}

void QuadView::CancelStarts() {
    ++m_startRound;
    for (Entry& entry : m_tiles)
        entry.startPending = false;
}

void QuadView::StopAll() {
    CancelStarts();
    RequestDecodeStops(m_tiles);
    for (Entry& entry : m_tiles) {
        if (entry.session && entry.session->Watching())
            entry.session->Stop();
    }
}

void QuadView::StartAll() {
    int started = 0;
    for (int index = 0; index < kTiles; ++index) {
        ViewingSession* session = m_tiles[size_t(index)].session.get();
        const int channel = ChannelOf(index);
        if (!session || channel >= m_channelCount || session->Watching())
            continue;
        const ServerSettings server = session->Server();
        if (server.address.empty() || server.port.empty())
            continue;
        // The session is the timer's context: a page turned meanwhile cancels
        // it. Stop since, or a server that turned out to lack the channel,
        // leaves the tile black.
        m_tiles[size_t(index)].startPending = true;
        QTimer::singleShot(kStagger * started, session,
                           [this, index, session, channel, round = m_startRound] {
                               if (round != m_startRound)
                                   return;
                               m_tiles[size_t(index)].startPending = false;
                               if (channel < m_channelCount && !session->Watching())
                                   session->Start(channel);
                               emit watchingChanged();
                           });
        ++started;
    }
}

bool QuadView::AnyWatching() const {
    return std::any_of(m_tiles.begin(), m_tiles.end(), [](const Entry& entry) {
        return entry.session && (entry.startPending || entry.session->Watching());
    });
}

bool QuadView::AnyVideoReceived() const {
    return std::any_of(m_tiles.begin(), m_tiles.end(), [](const Entry& entry) {
        return entry.session && entry.session->VideoReceived();
    });
}

void QuadView::SetFullScreen(bool on) {
    m_fullScreen = on;
    PlaceTiles();
}

void QuadView::SetKeepAspect(bool on) {
    m_keepAspect = on;
    for (Entry& entry : m_tiles) {
        if (entry.tile)
            entry.tile->SetKeepAspect(on);
    }
}

void QuadView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceTiles();
}

void QuadView::PlaceTiles() {
    // A 1 px line between the tiles, and round them outside full screen.
    const int margin = m_fullScreen ? 0 : 1;
    const QRect inner = rect().adjusted(margin, margin, -margin, -margin);
    const int leftWidth = std::max(0, (inner.width() - 1) / 2);
    const int topHeight = std::max(0, (inner.height() - 1) / 2);
    const int rightWidth = std::max(0, inner.width() - 1 - leftWidth);
    const int bottomHeight = std::max(0, inner.height() - 1 - topHeight);
    const std::array<QRect, kTiles> places = {
        QRect(inner.left(), inner.top(), leftWidth, topHeight),
        QRect(inner.left() + leftWidth + 1, inner.top(), rightWidth, topHeight),
        QRect(inner.left(), inner.top() + topHeight + 1, leftWidth, bottomHeight),
        QRect(inner.left() + leftWidth + 1, inner.top() + topHeight + 1, rightWidth, bottomHeight),
    };
    for (int index = 0; index < kTiles; ++index) {
        if (QuadTile* tile = m_tiles[size_t(index)].tile)
            tile->setGeometry(places[size_t(index)]);
    }
}

void QuadView::Repaint(int index) {
    if (QuadTile* tile = m_tiles[size_t(index)].tile)
        tile->update();
}

}  // namespace kavrel
