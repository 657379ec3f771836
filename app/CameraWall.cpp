#include "app/CameraWall.h"

#include <QResizeEvent>
#include <QTimer>
#include <algorithm>

#include "app/OffScreenRecordings.h"
#include "app/SessionRecording.h"
#include "app/StreamStatistics.h"
#include "app/WallTile.h"
#include "config/StreamUrl.h"
#include "video/CVideoAtom.h"

namespace kavrel {
namespace {

// Asks the decode thread of every tile that plays to end, without waiting:
// the stops that follow then find the threads ending side by side instead of
// ending each in turn.
template <typename Entries>
void RequestDecodeStops(const Entries& entries) {
    for (const auto& entry : entries) {
        if (entry.tile && entry.session && entry.session->Watching())
            entry.tile->Pipeline().RequestStop();
    }
}

// Where cell edge `k` (0 to `cells`) of a run of `length` pixels lies,
// without the lines before it.
int CellEdge(int length, int cells, int k) {
    const int usable = std::max(0, length - (cells - 1));
    return k * usable / cells;
}

const TileSource kNoSource{};

}  // namespace

QRect WallTileRect(const QRect& area, WallLayout layout, int index) {
    const int side = GridSide(layout);
    const WallCell cell = TileCell(layout, index);
    const auto span = [side](int length, int first, int cells, int& start, int& size) {
        const int from = CellEdge(length, side, first);
        const int to = CellEdge(length, side, first + cells);
        // A tile over several cells also covers the lines between them.
        start = from + first;
        size = to - from + (cells - 1);
    };
    int x = 0, width = 0, y = 0, height = 0;
    span(area.width(), cell.column, cell.span, x, width);
    span(area.height(), cell.row, cell.span, y, height);
    return QRect(area.left() + x, area.top() + y, width, height);
}

bool SameCamera(const TileSource& a, const TileSource& b) {
    // The record's own channel field is not the tile's channel.
    return a.server.address == b.server.address && a.server.port == b.server.port &&
           a.server.userName == b.server.userName && a.server.password == b.server.password &&
           a.channel == b.channel;
}

std::u16string ServerKey(const ServerSettings& server) {
    return server.address + u':' + server.port;
}

CameraWall::CameraWall(QWidget* owner) : QWidget(owner) {
    // The lines between the tiles are this widget's own black.
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    hide();
}

CameraWall::~CameraWall() {
    Clear();
}

void CameraWall::EndEntries(std::vector<Entry>& entries) {
    RequestDecodeStops(entries);
    // The sessions first: their receive threads feed the tiles. A camera
    // that records keeps its connection and its recording off screen.
    for (Entry& entry : entries) {
        // The tile lives on until its deferred delete, and its state check
        // must not read a session that has gone.
        if (entry.tile)
            entry.tile->SetSession(nullptr);
        if (m_offScreen && entry.session && !entry.source.Empty() &&
            entry.session->Recording().Active()) {
            disconnect(entry.session.get(), nullptr, this, nullptr);
            m_offScreen->Keep(entry.source, std::move(entry.session));
        }
        entry.session.reset();
    }
    for (Entry& entry : entries) {
        if (!entry.tile)
            continue;
        entry.tile->StopDecoding();
        entry.tile->hide();
        // Later: this may run inside one of the tile's own event handlers (a
        // double-click that opens the single view).
        entry.tile->deleteLater();
        entry.tile = nullptr;
    }
    entries.clear();
}

void CameraWall::Clear() {
    CancelStarts();
    EndEntries(m_tiles);
    m_isPage = false;
}

CameraWall::Entry CameraWall::MakeEntry(int index, const TileSource& source, const Setup& setup) {
    Entry entry;
    entry.source = source;
    auto* tile = new WallTile(this);
    tile->setObjectName(QStringLiteral("wall_tile_%1").arg(index));
    tile->SetFullScreen(true, false);  // the picture fills the tile; the lines are ours
    tile->SetKeepAspect(m_keepAspect);
    if (setup.snapshotWorker)
        tile->Pipeline().ShareSnapshotWorker(setup.snapshotWorker);
    tile->Pipeline().Snapshots().SetFolder(setup.snapshotFolder);
    tile->setContextMenuPolicy(Qt::CustomContextMenu);
    entry.tile = tile;

    // A camera that records off screen comes back with its session, its
    // connection and its recording.
    if (m_offScreen && !source.Empty())
        entry.session = m_offScreen->Take(source);
    if (entry.session) {
        entry.session->SetVideo(tile);
    } else {
        // An empty tile keeps an idle session too, so that the commands of
        // the selected tile always have one to act on (and do nothing there).
        entry.session = std::make_unique<ViewingSession>();
        entry.session->Attach(tile, setup.languageIndex);
        entry.session->SetServer(source.server);
        entry.session->SetVariant(source.variant);
        entry.session->SetCurrentChannel(source.channel);
    }
    ViewingSession* session = entry.session.get();
    tile->SetSession(session);
    tile->SetStatisticsShown(m_statisticsShown);
    if (source.Empty())
        tile->SetEmptyHint(session->Text(u"empty_tile_hint"));

    connect(session, &ViewingSession::statusShown, this, [this, index](const QString& text) {
        Repaint(index);
        if (index == m_selected)
            emit statusShown(text);
    });
    connect(session, &ViewingSession::recordingStatusShown, this,
            &CameraWall::recordingStatusShown);
    connect(session, &ViewingSession::watchingChanged, this, [this, index] {
        Repaint(index);
        emit watchingChanged();
    });
    connect(session, &ViewingSession::channelCountReported, this,
            [this, index](int count) { OnChannelCount(index, count); });
    connect(session, &ViewingSession::serverAnswered, this, [this, index] { WakeServer(index); });
    connect(session, &ViewingSession::steeringChanged, this, &CameraWall::steeringChanged);
    connect(tile, &CVideoAtom::tapped, this, [this, index] { emit tileTapped(index); });
    connect(tile, &CVideoAtom::doubleTapped, this, [this, index] { emit tileDoubleTapped(index); });
    connect(tile, &QWidget::customContextMenuRequested, this,
            [this, index, tile](const QPoint& at) {
                emit menuRequested(index, tile->mapToGlobal(at));
            });
    tile->show();
    return entry;
}

void CameraWall::Show(const WallView& view, const Setup& setup, int selected) {
    CancelStarts();
    m_mainServer = setup.server;
    if (!setup.server.address.empty())
        m_channelCounts.insert_or_assign(ServerKey(setup.server), setup.channelCount);
    m_isPage = false;
    m_layout = view.layout == WallLayout::Single ? WallLayout::Grid2 : view.layout;
    const int count = TileCount(m_layout);
    std::vector<Entry> old = std::move(m_tiles);
    m_tiles.clear();
    m_tiles.resize(size_t(count));
    const auto sourceOf = [&view](int index) -> const TileSource& {
        return size_t(index) < view.tiles.size() ? view.tiles[size_t(index)] : kNoSource;
    };
    for (int index = 0; index < count && size_t(index) < old.size(); ++index) {
        Entry& kept = old[size_t(index)];
        if (kept.tile && SameCamera(kept.source, sourceOf(index))) {
            m_tiles[size_t(index)] = std::move(kept);
            kept = Entry{};
        }
    }
    // The tiles that go end first, so that a recording camera among them is
    // off screen by the time a new tile looks for it.
    EndEntries(old);
    for (int index = 0; index < count; ++index) {
        if (!m_tiles[size_t(index)].tile)
            m_tiles[size_t(index)] = MakeEntry(index, sourceOf(index), setup);
    }
    m_selected = selected >= 0 && selected < count ? selected : 0;
    for (int index = 0; index < count; ++index) {
        m_tiles[size_t(index)].tile->SetSelected(index == m_selected);
        // A camera of two streams shows its sub stream in a tile, and its
        // main stream in the large tile of 1+5 (a kept tile may change role).
        const bool large = m_layout == WallLayout::OnePlusFive && index == 0;
        m_tiles[size_t(index)].session->SetStreamSize(large ? StreamSize::kMain : StreamSize::kSub);
    }
    PlaceTiles();
    if (setup.watch)
        StartAll();
}

void CameraWall::ShowPage(WallLayout layout, const TileSource& source, int first,
                          const Setup& setup, int selected) {
    WallView view;
    view.layout = layout == WallLayout::Single ? WallLayout::Grid2 : layout;
    for (int index = 0; index < TileCount(view.layout); ++index) {
        TileSource tile = source;
        tile.channel = first + index;
        view.tiles.push_back(tile);
    }
    Show(view, setup, selected);
    m_isPage = true;
    m_first = first;
    m_pageSource = source;
    m_pageSource.channel = first;
}

WallView CameraWall::CurrentView() const {
    WallView view;
    view.layout = m_layout;
    for (const Entry& entry : m_tiles) {
        TileSource source = entry.source;
        if (!source.Empty() && entry.session)
            source.variant = entry.session->Variant();
        view.tiles.push_back(source);
    }
    return view;
}

CVideoAtom* CameraWall::Tile(int index) const {
    if (index < 0 || index >= Tiles())
        return nullptr;
    return m_tiles[size_t(index)].tile;
}

ViewingSession* CameraWall::Session(int index) const {
    if (index < 0 || index >= Tiles())
        return nullptr;
    return m_tiles[size_t(index)].session.get();
}

const TileSource& CameraWall::Source(int index) const {
    if (index < 0 || index >= Tiles())
        return kNoSource;
    return m_tiles[size_t(index)].source;
}

void CameraWall::Select(int index) {
    if (index < 0 || index >= Tiles())
        return;
    m_selected = index;
    for (int k = 0; k < Tiles(); ++k)
        m_tiles[size_t(k)].tile->SetSelected(k == index);
    // The status line now speaks of the selected tile: its statistics, if
    // its stream has been announced.
    const ViewingSession& session = SelectedSession();
    if (session.VideoReceived()) {
        emit statusShown(QString::fromStdString(session.StatisticsLine()));
    }
}

int CameraWall::KnownChannelCount(const ServerSettings& server) const {
    const auto found = m_channelCounts.find(ServerKey(server));
    return found == m_channelCounts.end() ? kUnknownChannelCount : found->second;
}

void CameraWall::OnChannelCount(int index, int count) {
    const ServerSettings server = m_tiles[size_t(index)].source.server;
    LimitChannels(server, count);
    if (ServerKey(server) == ServerKey(m_mainServer))
        emit channelCountReported(count);
}

void CameraWall::WakeServer(int index) {
    const std::u16string key = ServerKey(m_tiles[size_t(index)].source.server);
    int woken = 0;
    for (int other = 0; other < Tiles(); ++other) {
        const Entry& entry = m_tiles[size_t(other)];
        if (other == index || entry.source.Empty() || ServerKey(entry.source.server) != key ||
            !entry.session->RetryPending())
            continue;
        // The session is the timer's context: a tile ended meanwhile cancels
        // it. One stopped, refused or already retrying meanwhile has no retry
        // waiting, and RetryNow leaves it alone.
        ViewingSession* session = entry.session.get();
        ++woken;
        QTimer::singleShot(kStagger * woken, session, [session] { session->RetryNow(); });
    }
}

void CameraWall::LimitChannels(const ServerSettings& server, int channelCount) {
    const std::u16string key = ServerKey(server);
    m_channelCounts[key] = channelCount;
    for (Entry& entry : m_tiles) {
        if (entry.source.Empty() || ServerKey(entry.source.server) != key ||
            entry.source.channel < channelCount)
            continue;
        entry.startPending = false;
        if (entry.session->Watching())
            entry.session->Stop();
        entry.tile->SetChannelMissing(true);
    }
}

void CameraWall::CancelStarts() {
    ++m_startRound;
    for (Entry& entry : m_tiles)
        entry.startPending = false;
}

void CameraWall::StopAll() {
    CancelStarts();
    RequestDecodeStops(m_tiles);
    for (Entry& entry : m_tiles) {
        if (entry.session && entry.session->Watching())
            entry.session->Stop();
    }
}

void CameraWall::StartAll() {
    int started = 0;
    for (int index = 0; index < Tiles(); ++index) {
        Entry& entry = m_tiles[size_t(index)];
        ViewingSession* session = entry.session.get();
        const TileSource& source = entry.source;
        if (source.Empty() || !CanConnect(source.server.address, source.server.port) ||
            session->Watching())
            continue;
        const bool missing = source.channel >= KnownChannelCount(source.server);
        entry.tile->SetChannelMissing(missing);
        if (missing)
            continue;
        // The session is the timer's context: a tile ended meanwhile cancels
        // it. Stop since, or a server that turned out to lack the channel,
        // leaves the tile black.
        entry.startPending = true;
        QTimer::singleShot(kStagger * started, session,
                           [this, index, session, round = m_startRound] {
                               if (round != m_startRound)
                                   return;
                               Entry& self = m_tiles[size_t(index)];
                               if (!self.startPending)
                                   return;
                               self.startPending = false;
                               if (!session->Watching())
                                   session->Start(self.source.channel);
                               emit watchingChanged();
                           });
        ++started;
    }
}

bool CameraWall::AnyWatching() const {
    return std::any_of(m_tiles.begin(), m_tiles.end(), [](const Entry& entry) {
        return entry.session && (entry.startPending || entry.session->Watching());
    });
}

bool CameraWall::AnyVideoReceived() const {
    return std::any_of(m_tiles.begin(), m_tiles.end(), [](const Entry& entry) {
        return entry.session && entry.session->VideoReceived();
    });
}

void CameraWall::SetFullScreen(bool on) {
    m_fullScreen = on;
    PlaceTiles();
}

void CameraWall::SetKeepAspect(bool on) {
    m_keepAspect = on;
    for (Entry& entry : m_tiles) {
        if (entry.tile)
            entry.tile->SetKeepAspect(on);
    }
}

void CameraWall::SetStatisticsShown(bool on) {
    m_statisticsShown = on;
    for (Entry& entry : m_tiles) {
        if (entry.tile)
            entry.tile->SetStatisticsShown(on);
    }
}

void CameraWall::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceTiles();
}

void CameraWall::PlaceTiles() {
    // A 1 px line between the tiles, and round them outside full screen.
    const int margin = m_fullScreen ? 0 : 1;
    const QRect inner = rect().adjusted(margin, margin, -margin, -margin);
    for (int index = 0; index < Tiles(); ++index) {
        if (WallTile* tile = m_tiles[size_t(index)].tile)
            tile->setGeometry(WallTileRect(inner, m_layout, index));
    }
}

void CameraWall::Repaint(int index) {
    if (index < Tiles()) {
        if (WallTile* tile = m_tiles[size_t(index)].tile)
            tile->update();
    }
}

}  // namespace kavrel
