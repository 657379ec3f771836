#pragma once
// The camera wall: up to 16 cameras at once where the video window lies, in
// one of the wall layouts (2x2, 3x3, 4x4, 1+5), with 1 px black lines between
// the tiles. Each tile shows a `TileSource`: any channel of any server, or
// nothing (black, with a hint).
//
// The protocol carries one channel per connection, so each tile is a video
// window of its own fed by a viewing session of its own: its own connection,
// engine, frame queue, decode thread, timers, reconnection and statistics, on
// its own server. A tile that fails retries alone and draws its short state in
// its corner ("…" until the first picture, the count-down while a retry
// waits); the others go on playing. Each tile's decode thread converts at the
// tile's size. The tiles start one after another, kStagger apart, so that a
// server is not hit by all the logins at once. A tile whose server answers
// again wakes the tiles of that server that wait for a retry, kStagger apart
// too: a server back after a restart shows on all its tiles at once, not
// each at the end of its own back-off.
//
// One tile is selected (drawn with a thin highlighted frame): the main window
// sends PTZ, Capture and the status line to its session.
//
// Showing a view again keeps the tiles whose camera stays in the same place
// (their connection, picture and digital zoom); the others are made afresh.
//
// Threads: the user-interface thread owns this object. The sessions' receive
// threads and the tiles' decode threads reach it only through the sessions'
// and tiles' own hand-offs (posted calls).

#include <QRect>
#include <QString>
#include <QWidget>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/ViewingSession.h"
#include "config/ServerSettings.h"
#include "protocol/WireFormat.h"
#include "settings/WallView.h"

namespace kavrel {

class CVideoAtom;
class OffScreenRecordings;
class WallTile;
class SnapshotWorker;

// Where tile `index` of `layout` lies inside `area`, leaving a 1 px line
// between neighbouring cells; the tiles together cover `area` but for those
// lines. Cells share out the odd pixels so that no two differ by more than one.
QRect WallTileRect(const QRect& area, WallLayout layout, int index);

// Two sources name the same camera (the dialect learned does not matter).
bool SameCamera(const TileSource& a, const TileSource& b);
// The key a server's known channel count is kept under: address and port.
std::u16string ServerKey(const ServerSettings& server);

class CameraWall : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kMaxTiles = kMaxWallTiles;
    static constexpr std::chrono::milliseconds kStagger{100};
    // A server's channel count until it says otherwise.
    static constexpr int kUnknownChannelCount = 32;

    // A hidden child of `owner`, without tiles.
    explicit CameraWall(QWidget* owner);
    // Ends every session first (their receive threads feed the tiles).
    ~CameraWall() override;

    // What the tiles need from the main window.
    struct Setup {
        // The main window's server: only its tiles report its channel count
        // to the main window.
        ServerSettings server;                    // its channel is not taken
        int channelCount = kUnknownChannelCount;  // the main window's server's
        int languageIndex = 0;
        std::filesystem::path snapshotFolder;  // where Capture writes
        bool watch = true;                     // start the sessions (false: black tiles only)
        // The main window's snapshot writer, shared so that a page turn
        // never waits for a tile's file (none: each tile its own).
        std::shared_ptr<SnapshotWorker> snapshotWorker;
    };

    // Where the sessions of recording cameras go when their tiles end, and
    // where a new tile first looks for its camera's session (null: nowhere;
    // a tile's recording then ends with it). It must outlive its use here.
    void SetOffScreen(OffScreenRecordings* offScreen) { m_offScreen = offScreen; }

    // Shows `view` (layout and sources; missing sources are empty tiles) with
    // the tile at `selected` selected. Tiles whose camera stays in place are
    // kept as they are; the rest end and start afresh.
    void Show(const WallView& view, const Setup& setup, int selected = 0);
    // Fills every tile of `layout` with consecutive channels of `source`'s
    // server from `first` (0-based): a page. Tiles of channels the server
    // lacks stay black.
    void ShowPage(WallLayout layout, const TileSource& source, int first, const Setup& setup,
                  int selected = 0);
    // What the wall shows, each source with the dialect its session learned
    // (fullScreen is the main window's to fill in).
    WallView CurrentView() const;
    // Ends every session and removes the tiles.
    void Clear();

    bool HasTiles() const { return !m_tiles.empty(); }
    WallLayout Layout() const { return m_layout; }
    int Tiles() const { return int(m_tiles.size()); }
    // The wall shows a page of one server (ShowPage, no tile changed since).
    bool IsPage() const { return m_isPage; }
    // The first channel of the page, and its server.
    int FirstChannel() const { return m_first; }
    const TileSource& PageSource() const { return m_pageSource; }

    // The tiles and their sessions (nullptr for an index without a tile).
    CVideoAtom* Tile(int index) const;
    ViewingSession* Session(int index) const;
    const TileSource& Source(int index) const;
    int ChannelOf(int index) const { return Source(index).channel; }

    int Selected() const { return m_selected; }
    void Select(int index);
    // Requires tiles.
    ViewingSession& SelectedSession() const { return *m_tiles[size_t(m_selected)].session; }

    // The channel count known for `server` (kUnknownChannelCount until told).
    int KnownChannelCount(const ServerSettings& server) const;
    // Stops the tiles of `server` whose channel it lacks (black, saying so);
    // their starts still waiting do not run.
    void LimitChannels(const ServerSettings& server, int channelCount);
    // Play: ends every session, or starts those with a camera, kStagger
    // apart. StopAll (and Clear) also cancel the starts that have not run yet.
    void StopAll();
    void StartAll();
    // Some tile watches or is about to start.
    bool AnyWatching() const;
    bool AnyVideoReceived() const;

    // Full screen: no outer line, and the pictures fill their tiles.
    void SetFullScreen(bool on);
    void SetKeepAspect(bool on);
    // The statistics panel over every tile, those made later included.
    void SetStatisticsShown(bool on);

  signals:
    // Every status text of the selected tile's session.
    void statusShown(const QString& text);
    // The recording texts of every tile.
    void recordingStatusShown(const QString& text);
    // Some tile's Play face changed.
    void watchingChanged();
    // The channel count the main window's server reported through a tile.
    void channelCountReported(int count);
    // What a tile's camera can be steered with has changed.
    void steeringChanged();
    void tileTapped(int index);
    void tileDoubleTapped(int index);
    // A right-click on tile `index`, at `global` screen coordinates.
    void menuRequested(int index, const QPoint& global);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct Entry {
        TileSource source;
        std::unique_ptr<ViewingSession> session;
        WallTile* tile = nullptr;   // child widget
        bool startPending = false;  // its staggered start has not run yet
    };
    Entry MakeEntry(int index, const TileSource& source, const Setup& setup);
    void OnChannelCount(int index, int count);
    // Tile `index`'s server answered: its other tiles that wait for a retry
    // retry now, one after another. Only waiting ones, and a tile woken does
    // not wake others in turn (ViewingSession::RetryNow): no wake-up loops.
    void WakeServer(int index);
    // Ends the entries' tiles and sessions; a recording camera's session
    // goes off screen instead.
    void EndEntries(std::vector<Entry>& entries);
    void PlaceTiles();
    void CancelStarts();
    void Repaint(int index);

    std::vector<Entry> m_tiles;  // TileCount(m_layout) of them while shown
    WallLayout m_layout = WallLayout::Grid2;
    int m_selected = 0;
    bool m_isPage = false;
    int m_first = 0;
    TileSource m_pageSource;
    ServerSettings m_mainServer;  // the main window's, from the last Setup
    // Channel counts the servers reported, by ServerKey.
    std::map<std::u16string, int> m_channelCounts;
    // Bumped by StopAll and Clear: a staggered start of an older round is void.
    uint64_t m_startRound = 0;
    bool m_fullScreen = false;
    bool m_keepAspect = false;
    bool m_statisticsShown = false;
    OffScreenRecordings* m_offScreen = nullptr;
};

}  // namespace kavrel
