// The main window's side of its viewing session: the Play, PTZ and channel
// commands mapped to the session, and the session's texts, Play face and
// channel count shown by the window's controls. User-interface thread only.

#include <QMetaObject>
#include <array>

#include "app/COrvaneDlg.h"
#include "app/CameraWall.h"
#include "app/OffScreenRecordings.h"
#include "app/SessionRecording.h"
#include "config/StreamUrl.h"
#include "platform/DebugSink.h"
#include "protocol/WireFormat.h"
#include "settings/HistoryEntry.h"
#include "skin/BitmapIds.h"
#include "skin/CSkinButton.h"
#include "skin/CSkinStatic.h"
#include "skin/SkinBitmap.h"
#include "video/CVideoAtom.h"

namespace kavrel {
namespace {

// Status key and PTZ code of each camera button, in id order (209 to 218).
struct PtzCommand {
    const char16_t* key;
    int code;
};
constexpr std::array<PtzCommand, 10> kPtzCommands = {{
    {u"ptz_left", wire::kPtzLeft},
    {u"ptz_right", wire::kPtzRight},
    {u"ptz_up", wire::kPtzUp},
    {u"ptz_down", wire::kPtzDown},
    {u"ptz_zoom_in", wire::kPtzZoomIn},
    {u"ptz_zoom_out", wire::kPtzZoomOut},
    {u"ptz_iris_add", wire::kPtzIrisAdd},
    {u"ptz_iris_sub", wire::kPtzIrisSub},
    {u"ptz_focus_add", wire::kPtzFocusAdd},
    {u"ptz_focus_sub", wire::kPtzFocusSub},
}};
static_assert(control::kLastPtz - control::kFirstPtz + 1 == int(kPtzCommands.size()));

}  // namespace

void COrvaneDlg::ConnectSingleSession() {
    m_session->Attach(m_videoWindow, languageIndex());
    // The single view shows a camera's main stream.
    m_session->SetStreamSize(StreamSize::kMain);
    connect(m_session.get(), &ViewingSession::statusShown, this, &COrvaneDlg::ShowText);
    connect(m_session.get(), &ViewingSession::steeringChanged, this, &COrvaneDlg::UpdateSteering);
    // A recording's texts even while a tour keeps the line.
    connect(m_session.get(), &ViewingSession::recordingStatusShown, this,
            &COrvaneDlg::PutStatusText);
    connect(m_session.get(), &ViewingSession::watchingChanged, this, &COrvaneDlg::SetPlayFace);
    connect(m_session.get(), &ViewingSession::channelCountReported, this,
            &COrvaneDlg::OnChannelCount);
    connect(&m_session->Recording(), &SessionRecording::activeChanged, this,
            &COrvaneDlg::UpdateRecordBadges);
}

std::unique_ptr<ViewingSession> COrvaneDlg::ReplaceSingleSession(
    std::unique_ptr<ViewingSession> session) {
    std::unique_ptr<ViewingSession> left = std::move(m_session);
    disconnect(left.get(), nullptr, this, nullptr);
    disconnect(&left->Recording(), nullptr, this, nullptr);
    // Off the video window before the new session takes it.
    left->SetVideo(nullptr);
    m_session = std::move(session);
    ConnectSingleSession();
    SetPlayFace(m_session->Watching());
    return left;
}

void COrvaneDlg::ParkSingleSession() {
    if (!m_session->Recording().Active()) {
        if (m_session->Watching() || m_session->HasSource())
            m_session->Stop();
        return;
    }
    auto fresh = std::make_unique<ViewingSession>();
    fresh->CopySettingsFrom(*m_session);
    const TileSource camera = MainSource(m_session->CurrentChannel());
    m_offScreen->Keep(camera, ReplaceSingleSession(std::move(fresh)));
}

void COrvaneDlg::ConnectSessionSignals() {
    ConnectSingleSession();
    connect(m_videoWindow, &CVideoAtom::tapped, this, &COrvaneDlg::OnVideoTapped);
    connect(m_videoWindow, &CVideoAtom::doubleTapped, this, &COrvaneDlg::OnVideoDoubleTapped);
    connect(m_videoWindow, &CVideoAtom::pictureShown, this, [this] {
        // Full screen needs video received; the picture may come first.
        if (!m_fullScreenOnFirstPicture || !m_session->VideoReceived())
            return;
        m_fullScreenOnFirstPicture = false;
        if (!m_fullScreen)
            OnCommand(control::kFullScreen);
    });
}

void COrvaneDlg::ShowText(const QString& text) {
    // A running tour keeps the status line saying so: nobody is at the keys,
    // and every tile shows its own state in its corner.
    if (m_tour && m_tour->CurrentState() == WallTour::State::Running)
        return;
    PutStatusText(text);
}

void COrvaneDlg::PutStatusText(const QString& text) {
    if (m_statusLine)
        m_statusLine->setText(text);
    emit statusShown(text);
}

void COrvaneDlg::SetPlayFace(bool active) {
    if (CSkinButton* play = Button(control::kPlay))
        play->SetBitmap(active ? bitmap::kPlayActive : bitmap::kPlay);
    UpdateIdleLine();
    UpdateSteering();
}

void COrvaneDlg::UpdateSteering() {
    const ViewingSession& session = ActiveSession();
    for (size_t k = 0; k < m_ptzButtons.size(); ++k) {
        if (m_ptzButtons[k])
            m_ptzButtons[k]->SetGreyed(!session.CanSteer(kPtzCommands[k].code));
    }
    const bool channels = m_session->HasChannels();
    for (CSkinButton* button : m_channelButtons) {
        if (button)
            button->SetGreyed(!channels);
    }
}

void COrvaneDlg::UpdateIdleLine() {
    if (!m_videoWindow)
        return;
    // Once Play is pressed the status line tells how it goes.
    QString text;
    if (!m_session->Watching()) {
        const ServerSettings server = m_session->Server();
        if (server.address.empty()) {
            text = LoadText(u"idle_no_server");
        } else if (IsStreamUrl(server.address)) {
            // An RTSP camera has no channels.
            text = LoadText(u"idle_play_url")
                       .replace(QStringLiteral("%s"),
                                QString::fromStdU16String(RedactedUrl(server.address)));
        } else {
            const QString name = QString::fromStdU16String(
                server.port.empty() ? server.address
                                    : ServerDisplayText(server.address, server.port));
            text = FillNumber(LoadText(u"idle_play"), m_session->CurrentChannel() + 1)
                       .replace(QStringLiteral("%s"), name);
        }
    }
    m_videoWindow->SetIdleText(text, SkinFont(*this));
}

void COrvaneDlg::OnChannelCount(int count) {
    m_channelCount = count;
    for (int index = count; index < control::kChannelButtons; ++index) {
        if (CSkinButton* button = m_channelButtons[size_t(index)])
            button->hide();
    }
    // A page the server has no channel of would leave no button to press and
    // no page for Switch to turn from. The wall has stopped its own tiles of
    // missing channels; a page of them all turns back to the first.
    if (m_page >= count) {
        ReleaseHeldPtz();
        ShowChannelPage(0);
    }
    if (m_wallOn && m_wall->IsPage() && IsMainServer(m_wall->PageSource().server) &&
        m_wall->FirstChannel() >= count) {
        // Later: this runs inside a tile's session, which the new page ends.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_wallOn && m_wall->IsPage())
                    ShowWallPage(m_wall->PageSource(), 0);
            },
            Qt::QueuedConnection);
    }
}

void COrvaneDlg::OnPlay() {
    DebugOutput("Play\n");
    if (m_wallOn) {
        if (m_wall->AnyWatching())
            m_wall->StopAll();
        else
            m_wall->StartAll();
        SetPlayFace(m_wall->AnyWatching());
        return;
    }
    m_session->PlayToggle();
}

void COrvaneDlg::OnPtz(int id) {
    DebugPrintf("%d\n", id);
    if (id < control::kFirstPtz || id > control::kLastPtz)
        return;
    const PtzCommand& command = kPtzCommands[size_t(id - control::kFirstPtz)];
    // A stream's camera buttons are greyed; its keys do nothing either.
    if (!ActiveSession().CanSteer(command.code))
        return;
    ActiveSession().Ptz(command.key, command.code);
}

void COrvaneDlg::OnPtzDown(int id, bool byMouse) {
    DebugPrintf("%d\n", id);
    if (id < control::kFirstPtz || id > control::kLastPtz)
        return;
    const PtzCommand& command = kPtzCommands[size_t(id - control::kFirstPtz)];
    // Another camera key or button still held: its stop first, on its own session.
    ReleaseHeldPtz();
    if (!ActiveSession().CanSteer(command.code))
        return;
    m_heldPtz = id;
    m_heldByMouse = byMouse;
    m_heldSession = &ActiveSession();
    if (byMouse)
        m_heldSession->PtzPress(command.key, command.code);
    else
        m_heldSession->PtzHold(command.key, command.code);
}

void COrvaneDlg::OnPresetKey(int index, bool store) {
    // A camera key still held: its stop first.
    ReleaseHeldPtz();
    ViewingSession& session = ActiveSession();
    if (!session.HasPresets())
        return;
    if (store)
        session.StorePreset(index);
    else
        session.GotoPreset(index);
}

void COrvaneDlg::OnPtzButtonUp(int id) {
    if (m_heldPtz != id || !m_heldByMouse)
        return;
    m_heldPtz = 0;
    // A click shorter than the pulse keeps the pulse's own stop.
    if (ViewingSession* session = m_heldSession.data())
        session->PtzRelease(true);
    m_heldSession.clear();
}

void COrvaneDlg::OnChannel(int id) {
    DebugPrintf("-------------------%d\n", id);
    const int channel = id - control::kFirstChannel;
    // A URL names one camera: there are no channels to choose among.
    if (!m_session->HasChannels())
        return;
    if (m_wallOn) {
        // A channel button opens its channel in the single view.
        if (channel < m_channelCount)
            LeaveWallView(MainSource(channel));
        return;
    }
    if (channel == m_session->CurrentChannel() || channel >= m_channelCount)
        return;
    m_session->ChangeChannel(channel);
    UpdateIdleLine();
}

}  // namespace kavrel
