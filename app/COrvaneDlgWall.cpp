// The camera wall's side of the main window: entering and leaving it, its
// layouts, its pages following the channel pages, the sources of its tiles
// and its tiles' taps. User-interface thread only.

#include <QApplication>
#include <QMenu>
#include <algorithm>
#include <array>

#include "app/COrvaneDlg.h"
#include "app/OffScreenRecordings.h"
#include "config/StreamUrl.h"
#include "platform/DebugSink.h"
#include "video/CVideoAtom.h"

namespace kavrel {
namespace {

// The layouts L goes through, in order.
constexpr std::array<WallLayout, 4> kWallCycle = {WallLayout::Grid2, WallLayout::Grid3,
                                                  WallLayout::Grid4, WallLayout::OnePlusFive};

}  // namespace

void COrvaneDlg::ConnectWallSignals() {
    connect(m_wall, &CameraWall::statusShown, this, [this](const QString& text) {
        if (m_wallOn)
            ShowText(text);
    });
    connect(m_wall, &CameraWall::steeringChanged, this, &COrvaneDlg::UpdateSteering);
    connect(m_wall, &CameraWall::watchingChanged, this, [this] {
        if (m_wallOn)
            SetPlayFace(m_wall->AnyWatching());
    });
    connect(m_wall, &CameraWall::channelCountReported, this, &COrvaneDlg::OnChannelCount);
    connect(m_wall, &CameraWall::tileTapped, this, &COrvaneDlg::OnTileTapped);
    connect(m_wall, &CameraWall::tileDoubleTapped, this, &COrvaneDlg::OnTileDoubleTapped);
    connect(m_wall, &CameraWall::menuRequested, this, [this](int index, const QPoint& global) {
        // The menu's commands act on the tile it was opened on.
        if (!m_fullScreen) {
            m_wall->Select(index);
            UpdateSteering();
        }
        QMenu* menu = MakeVideoMenu(index);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(global);
    });
}

ViewingSession& COrvaneDlg::ActiveSession() {
    if (m_wallOn && m_wall && m_wall->HasTiles())
        return m_wall->SelectedSession();
    return *m_session;
}

TileSource COrvaneDlg::MainSource(int channel) const {
    TileSource source;
    source.server = m_session->Server();
    source.server.channel = 0;
    source.variant = m_session->Variant();
    source.channel = channel;
    return source;
}

bool COrvaneDlg::AllTilesAreStreams() const {
    if (!m_wall->HasTiles())
        return false;
    bool any = false;
    for (int index = 0; index < m_wall->Tiles(); ++index) {
        const TileSource& source = m_wall->Source(index);
        if (source.Empty())
            continue;
        if (!IsStreamUrl(source.server.address))
            return false;
        any = true;
    }
    return any;
}

bool COrvaneDlg::IsMainServer(const ServerSettings& server) const {
    return ServerKey(server) == ServerKey(m_session->Server());
}

CameraWall::Setup COrvaneDlg::WallSetup() const {
    CameraWall::Setup setup;
    setup.server = m_session->Server();
    setup.channelCount = qMin(m_channelCount, control::kChannelButtons);
    setup.languageIndex = languageIndex();
    setup.snapshotFolder = m_videoWindow->Pipeline().Snapshots().Folder();
    setup.snapshotWorker = m_videoWindow->Pipeline().SharedSnapshotWorker();
    return setup;
}

void COrvaneDlg::ToggleWallView() {
    ReleaseHeldPtz();
    if (!m_wall)
        return;
    if (m_wallOn)
        LeaveWallView(m_wall->Source(m_wall->Selected()));
    else
        EnterWallView(m_wallLayout);
}

void COrvaneDlg::CycleWallLayout() {
    if (!m_wallOn) {
        SetWallLayout(kWallCycle.front());
        return;
    }
    const auto at = std::find(kWallCycle.begin(), kWallCycle.end(), m_wall->Layout());
    const auto next =
        at == kWallCycle.end() || at + 1 == kWallCycle.end() ? kWallCycle.begin() : at + 1;
    SetWallLayout(*next);
}

void COrvaneDlg::SetWallLayout(WallLayout layout) {
    ReleaseHeldPtz();
    if (!m_wall)
        return;
    if (layout == WallLayout::Single) {
        if (m_wallOn)
            LeaveWallView(m_wall->Source(m_wall->Selected()));
        return;
    }
    if (!m_wallOn) {
        EnterWallView(layout);
        return;
    }
    DebugOutput("Wall layout\n");
    m_wallLayout = layout;
    if (m_wall->IsPage()) {
        // The same first channel: the tiles that keep their camera keep
        // their connection and zoom.
        ShowWallPage(m_wall->PageSource(), m_wall->FirstChannel());
        return;
    }
    WallView view = m_wall->CurrentView();
    view.layout = layout;
    view.tiles.resize(size_t(TileCount(layout)));
    m_wall->Show(view, WallSetup(), m_wall->Selected());
    SetPlayFace(m_wall->AnyWatching());
}

void COrvaneDlg::OpenWall() {
    // One connection per camera: the single view's ends first, unless it
    // records (then it goes on off screen, or in the wall's tile of it).
    ParkSingleSession();
    m_wallOn = true;
    m_wall->setGeometry(m_videoWindow->geometry());
    m_wall->SetFullScreen(m_fullScreen);
    m_wall->SetKeepAspect(m_preferences.keepAspect);
    m_videoWindow->hide();
    m_wall->show();
    m_wall->raise();
}

void COrvaneDlg::EnterWallView(WallLayout layout) {
    DebugOutput("Wall view\n");
    OpenWall();
    m_wallLayout = layout;
    if (m_lastWall && m_lastWall->layout == layout) {
        // A wall of several servers comes back as it was.
        const WallView view = *m_lastWall;
        m_lastWall.reset();
        m_wall->Show(view, WallSetup(), 0);
        SetPlayFace(m_wall->AnyWatching());
        return;
    }
    m_lastWall.reset();
    if (!m_session->HasChannels()) {
        // A stream is one camera: it takes the first tile, the others wait
        // for "Show here".
        WallView view;
        view.layout = layout;
        view.tiles.resize(size_t(TileCount(layout)));
        view.tiles[0] = MainSource(0);
        m_wall->Show(view, WallSetup(), 0);
        SetPlayFace(m_wall->AnyWatching());
        return;
    }
    // The page that holds the channel page shown; the single view's channel
    // stays selected when it is on it.
    const int tiles = TileCount(layout);
    const int first = m_page / tiles * tiles;
    const int channel = m_session->CurrentChannel();
    const bool onPage = channel >= first && channel < first + tiles;
    ShowWallPage(MainSource(), first, onPage ? channel - first : 0);
}

void COrvaneDlg::ShowWallPage(const TileSource& source, int first, int selected) {
    ReleaseHeldPtz();
    if (selected < 0)
        selected = m_wall->HasTiles() ? m_wall->Selected() : 0;
    m_wall->ShowPage(m_wallLayout, source, first, WallSetup(), selected);
    SetPlayFace(m_wall->AnyWatching());
}

void COrvaneDlg::TurnWallPage(int direction) {
    ReleaseHeldPtz();
    const TileSource source = m_wall->IsPage() ? m_wall->PageSource() : MainSource();
    // A stream has no further channels, and a view of streams no pages.
    if (IsStreamUrl(source.server.address) || (!m_wall->IsPage() && AllTilesAreStreams()))
        return;
    const bool main = IsMainServer(source.server);
    const int tiles = TileCount(m_wall->Layout());
    // Paging stays within the channel buttons, as Switch does.
    const int limit = qMin(main ? m_channelCount : m_wall->KnownChannelCount(source.server),
                           control::kChannelButtons);
    const int first = m_wall->IsPage() ? m_wall->FirstChannel() : 0;
    int next = 0;
    if (direction > 0) {
        next = first + tiles >= limit ? 0 : first + tiles;
    } else {
        if (limit <= tiles)
            return;  // one page: nothing to turn to
        next = first == 0 ? (limit - 1) / tiles * tiles : qMax(0, first - tiles);
    }
    if (main)
        ShowChannelPage(next / control::kChannelsPerPage * control::kChannelsPerPage);
    if (next != first || !m_wall->IsPage())
        ShowWallPage(source, next);
}

void COrvaneDlg::FillWallWithServer() {
    ReleaseHeldPtz();
    if (!m_wallOn)
        return;
    const TileSource& selected = m_wall->Source(m_wall->Selected());
    TileSource source = selected.Empty() ? MainSource() : selected;
    if (IsStreamUrl(source.server.address))
        return;  // a stream has no other channels
    if (!selected.Empty())
        source.variant = m_wall->SelectedSession().Variant();
    const int tiles = m_wall->Tiles();
    const int first = m_wall->IsPage() ? m_wall->FirstChannel() : m_page / tiles * tiles;
    ShowWallPage(source, first);
}

void COrvaneDlg::ShowInTile(int index, const TileSource& source) {
    ReleaseHeldPtz();
    if (!m_wallOn || index < 0 || index >= m_wall->Tiles())
        return;
    WallView view = m_wall->CurrentView();
    view.tiles[size_t(index)] = source;
    m_wall->Show(view, WallSetup(), index);
    SetPlayFace(m_wall->AnyWatching());
}

WallView COrvaneDlg::CurrentWallView() const {
    WallView view;
    if (m_wallOn && m_wall->HasTiles()) {
        view = m_wall->CurrentView();
    } else {
        view.layout = WallLayout::Single;
        view.tiles.push_back(MainSource(m_session->CurrentChannel()));
    }
    view.fullScreen = m_fullScreen;
    return view;
}

void COrvaneDlg::ShowWallView(const WallView& view) {
    ReleaseHeldPtz();
    if (!m_wall)
        return;
    if (view.layout == WallLayout::Single) {
        const TileSource source = view.tiles.empty() ? TileSource{} : view.tiles.front();
        if (m_wallOn || !source.Empty())
            LeaveWallView(source);
    } else {
        if (!m_wallOn)
            OpenWall();
        m_lastWall.reset();
        m_wallLayout = view.layout;
        m_wall->Show(view, WallSetup(), 0);
        SetPlayFace(m_wall->AnyWatching());
    }
    if (view.fullScreen != m_fullScreen)
        SetFullScreenView(view.fullScreen);
}

void COrvaneDlg::CloseWallView() {
    if (!m_wallOn)
        return;
    // The dialect a tile learned of the main window's server is the server's.
    if (m_wall->HasTiles() && IsMainServer(m_wall->Source(m_wall->Selected()).server))
        m_session->SetVariant(m_wall->SelectedSession().Variant());
    m_wallOn = false;
    m_wall->Clear();
    m_wall->hide();
    m_videoWindow->show();
    SetPlayFace(m_session->Watching());
}

void COrvaneDlg::LeaveWallView(const TileSource& chosen) {
    TileSource source = chosen.Empty() ? MainSource(m_session->CurrentChannel()) : chosen;
    if (m_wallOn) {
        // A wall of more than a page of this window's server is kept for G.
        const bool page = m_wall->IsPage() && IsMainServer(m_wall->PageSource().server);
        m_lastWall.reset();
        if (!page && m_wall->HasTiles()) {
            m_lastWall = m_wall->CurrentView();
            m_lastWall->layout = m_wall->Layout();
        }
        for (int index = 0; index < m_wall->Tiles(); ++index) {
            if (SameCamera(m_wall->Source(index), source) && !source.Empty())
                source.variant = m_wall->Session(index)->Variant();
        }
    }
    CloseWallView();
    if (!IsMainServer(source.server)) {
        // The tile's server becomes the window's, its channels those it has.
        m_session->SetServer(source.server);
        m_session->SetVariant(source.variant);
        m_channelCount = m_wall->KnownChannelCount(source.server);
    }
    ShowChannelPage(source.channel / control::kChannelsPerPage * control::kChannelsPerPage);
    // A camera that records off screen (the tile just left, say) comes back
    // with its connection and recording.
    if (std::unique_ptr<ViewingSession> recording = m_offScreen->Take(source)) {
        ReplaceSingleSession(std::move(recording));
        return;
    }
    m_session->SetCurrentChannel(source.channel);
    const ServerSettings server = m_session->Server();
    if (CanConnect(server.address, server.port))
        m_session->Start(source.channel);
}

void COrvaneDlg::OnTileTapped(int index) {
    ReleaseHeldPtz();
    if (m_fullScreen) {
        // As in the single view: a tap leaves full screen.
        OnVideoTapped();
        return;
    }
    m_wall->Select(index);
    UpdateSteering();
}

void COrvaneDlg::OnTileDoubleTapped(int index) {
    ReleaseHeldPtz();
    // Its first press left full screen: that double-click opens nothing.
    if (m_tapLeftFullScreen.isValid() &&
        m_tapLeftFullScreen.elapsed() <= QApplication::doubleClickInterval()) {
        m_tapLeftFullScreen.invalidate();
        return;
    }
    if (m_wallOn)
        LeaveWallView(m_wall->Source(index));
}

}  // namespace kavrel
