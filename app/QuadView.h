#pragma once
// The quad view: the four channels of a channel page at once, in a 2x2 grid
// where the video window lies (top left, top right, bottom left, bottom
// right, in button order), with 1 px black lines between the tiles.
//
// The protocol carries one channel per connection, so each tile is a video
// window of its own fed by a viewing session of its own: its own connection,
// engine, frame queue, decode thread, timers, reconnection and statistics, on
// the server and user of the main window. A tile that fails retries alone and
// draws its short state in its corner ("…" until the first picture, the
// count-down while a retry waits); the others go on playing. Each tile's
// decode thread converts at the tile's size. The tiles start one after
// another, kStagger apart, so that a server is not hit by four logins at once.
//
// One tile is selected (drawn with a thin highlighted frame): the main window
// sends PTZ, Capture and the status line to its session.
//
// Threads: the user-interface thread owns this object. The sessions' receive
// threads and the tiles' decode threads reach it only through the sessions'
// and tiles' own hand-offs (posted calls).

#include <QString>
#include <QWidget>
#include <array>
#include <chrono>
#include <filesystem>
#include <memory>

#include "app/ViewingSession.h"
#include "config/ServerSettings.h"
#include "protocol/WireFormat.h"

namespace kavrel {

class CVideoAtom;
class QuadTile;
class SnapshotWorker;

class QuadView : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kTiles = 4;
    static constexpr std::chrono::milliseconds kStagger{100};

    // A hidden child of `owner`, without tiles.
    explicit QuadView(QWidget* owner);
    // Ends every session first (their receive threads feed the tiles).
    ~QuadView() override;

    // What the tiles of the next page need from the main window.
    struct Setup {
        ServerSettings server;  // its channel is not taken
        ProtocolVariant variant = ProtocolVariant::Current;
        int languageIndex = 0;
        std::filesystem::path snapshotFolder;  // where Capture writes
        int channelCount = 0;                  // tiles of channels at or above it stay black
        bool watch = true;                     // start the sessions (false: black tiles only)
        // The main window's snapshot writer, shared so that a page turn
        // never waits for a tile's file (none: each tile its own).
        std::shared_ptr<SnapshotWorker> snapshotWorker;
    };
    // Ends the tiles shown and makes four new ones for channels `first` to
    // `first` + 3 (0-based), with the tile at `selected` (0 to 3) selected.
    void ShowPage(int first, const Setup& setup, int selected = 0);
    // Ends every session and removes the tiles.
    void Clear();
    bool HasTiles() const { return m_tiles[0].session != nullptr; }
    int FirstChannel() const { return m_first; }

    // The tiles and their sessions (nullptr without tiles).
    CVideoAtom* Tile(int index) const;
    ViewingSession* Session(int index) const;
    int ChannelOf(int index) const { return m_first + index; }

    int Selected() const { return m_selected; }
    void Select(int index);
    // Requires tiles.
    ViewingSession& SelectedSession() const { return *m_tiles[size_t(m_selected)].session; }

    // Stops (and leaves black) the tiles whose channel the server lacks; their
    // starts still waiting do not run.
    void LimitChannels(int channelCount);
    // Play: ends every session, or starts those of the channels the server
    // has, kStagger apart. StopAll (and Clear) also cancel the starts that
    // have not run yet.
    void StopAll();
    void StartAll();
    // Some tile watches or is about to start.
    bool AnyWatching() const;
    bool AnyVideoReceived() const;

    // Full screen: no outer line, and the pictures fill their tiles.
    void SetFullScreen(bool on);
    void SetKeepAspect(bool on);

  signals:
    // Every status text of the selected tile's session.
    void statusShown(const QString& text);
    // Some tile's Play face changed.
    void watchingChanged();
    void channelCountReported(int count);
    void tileTapped(int index);
    void tileDoubleTapped(int index);
    // A right-click on a tile, at `global` screen coordinates.
    void menuRequested(const QPoint& global);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct Entry {
        std::unique_ptr<ViewingSession> session;
        QuadTile* tile = nullptr;   // child widget
        bool startPending = false;  // its staggered start has not run yet
    };
    void PlaceTiles();
    void CancelStarts();
    void Repaint(int index);

    std::array<Entry, kTiles> m_tiles;
    int m_first = 0;
    int m_selected = 0;
    int m_channelCount = 0;
    // Bumped by StopAll and Clear: a staggered start of an older round is void.
    uint64_t m_startRound = 0;
    bool m_fullScreen = false;
    bool m_keepAspect = false;
};

}  // namespace kavrel
