// The quad view's side of the main window: entering and leaving it, its page
// following the channel page, and its tiles' taps. User-interface thread only.

#include <QApplication>
#include <QMenu>

#include "app/COrvaneDlg.h"
#include "app/QuadView.h"
#include "platform/DebugSink.h"
#include "video/CVideoAtom.h"

namespace kavrel {

void COrvaneDlg::ConnectQuadSignals() {
    connect(m_quad, &QuadView::statusShown, this, [this](const QString& text) {
        if (m_quadOn)
            ShowText(text);
    });
    connect(m_quad, &QuadView::watchingChanged, this, [this] {
        if (m_quadOn)
            SetPlayFace(m_quad->AnyWatching());
    });
    connect(m_quad, &QuadView::channelCountReported, this, &COrvaneDlg::OnChannelCount);
    connect(m_quad, &QuadView::tileTapped, this, &COrvaneDlg::OnTileTapped);
    connect(m_quad, &QuadView::tileDoubleTapped, this, &COrvaneDlg::OnTileDoubleTapped);
    connect(m_quad, &QuadView::menuRequested, this, [this](const QPoint& global) {
        QMenu* menu = MakeVideoMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(global);
    });
}

ViewingSession& COrvaneDlg::ActiveSession() {
    if (m_quadOn && m_quad && m_quad->HasTiles())
        return m_quad->SelectedSession();
    return *m_session;
}

void COrvaneDlg::ToggleQuadView() {
    ReleaseHeldPtz();
    if (!m_quad)
        return;
    if (m_quadOn)
        LeaveQuadView(m_quad->ChannelOf(m_quad->Selected()));
    else
        EnterQuadView();
}

void COrvaneDlg::EnterQuadView() {
    DebugOutput("Quad view\n");
    // One connection per channel: the single view's ends first.
    if (m_session->Watching() || m_session->HasEngine())
        m_session->Stop();
    m_quadOn = true;
    m_quad->setGeometry(m_videoWindow->geometry());
    m_quad->SetFullScreen(m_fullScreen);
    m_quad->SetKeepAspect(m_preferences.keepAspect);
    m_videoWindow->hide();
    m_quad->show();
    m_quad->raise();
    // The single view's channel stays selected when it is on the page.
    const int channel = m_session->CurrentChannel();
    const bool onPage = channel >= m_page && channel < m_page + QuadView::kTiles;
    ShowQuadPage(onPage ? channel - m_page : 0);
}

void COrvaneDlg::ShowQuadPage(int selected) {
    ReleaseHeldPtz();
    if (selected < 0)
        selected = m_quad->HasTiles() ? m_quad->Selected() : 0;
    QuadView::Setup setup;
    setup.server = m_session->Server();
    setup.variant = m_session->Variant();
    setup.languageIndex = languageIndex();
    setup.snapshotFolder = m_videoWindow->Pipeline().Snapshots().Folder();
    setup.snapshotWorker = m_videoWindow->Pipeline().SharedSnapshotWorker();
    setup.channelCount = qMin(m_channelCount, control::kChannelButtons);
    m_quad->ShowPage(m_page, setup, selected);
    SetPlayFace(m_quad->AnyWatching());
}

void COrvaneDlg::CloseQuadView() {
    if (!m_quadOn)
        return;
    // The dialect the tiles learned is the server's.
    if (m_quad->HasTiles())
        m_session->SetVariant(m_quad->SelectedSession().Variant());
    m_quadOn = false;
    m_quad->Clear();
    m_quad->hide();
    m_videoWindow->show();
    SetPlayFace(m_session->Watching());
}

void COrvaneDlg::LeaveQuadView(int channel) {
    CloseQuadView();
    ShowChannelPage(channel / control::kChannelsPerPage * control::kChannelsPerPage);
    m_session->SetCurrentChannel(channel);
    const ServerSettings server = m_session->Server();
    if (!server.address.empty() && !server.port.empty())
        m_session->Start(channel);
}

void COrvaneDlg::OnTileTapped(int index) {
    ReleaseHeldPtz();
    if (m_fullScreen) {
        // As in the single view: a tap leaves full screen.
        OnVideoTapped();
        return;
    }
    m_quad->Select(index);
}

void COrvaneDlg::OnTileDoubleTapped(int index) {
    ReleaseHeldPtz();
    // Its first press left full screen: that double-click opens nothing.
    if (m_tapLeftFullScreen.isValid() &&
        m_tapLeftFullScreen.elapsed() <= QApplication::doubleClickInterval()) {
        m_tapLeftFullScreen.invalidate();
        return;
    }
    if (m_quadOn)
        LeaveQuadView(m_quad->ChannelOf(index));
}

}  // namespace kavrel
