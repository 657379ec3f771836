// The session controller of the main window: connect-and-login, disconnect,
// the Play toggle, the PTZ commands, the channel change and the three timers.
// User-interface thread only; the receive thread's side is COrvaneDlgNotify.cpp.

#include <QApplication>
#include <new>

#include "app/COrvaneDlg.h"
#include "app/StreamStatistics.h"
#include "platform/DebugSink.h"
#include "platform/DecimalValue.h"
#include "protocol/CProtocolEngine.h"
#include "skin/BitmapIds.h"
#include "skin/CSkinButton.h"
#include "skin/CSkinStatic.h"
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

// The wait cursor for the life of the object.
class WaitCursor {
  public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

void COrvaneDlg::ConnectSessionSignals() {
    m_timers.SetHandler([this](int id) { OnTimer(id); });
    connect(m_videoWindow, &CVideoAtom::tapped, this, &COrvaneDlg::OnVideoTapped);
    connect(m_videoWindow, &CVideoAtom::snapshotWritten, this,
            [this](bool ok, const QString&) { OnSnapshotWritten(ok); });
}

void COrvaneDlg::ShowText(const QString& text) {
    if (m_statusLine)
        m_statusLine->setText(text);
    emit statusShown(text);
}

void COrvaneDlg::ShowKey(std::u16string_view key) {
    ShowText(LoadText(key));
}

void COrvaneDlg::SetPlayFace(bool active) {
    m_playActive = active;
    if (CSkinButton* play = Button(control::kPlay))
        play->SetBitmap(active ? bitmap::kPlayActive : bitmap::kPlay);
}

void COrvaneDlg::ReleaseEngine() {
    if (!m_engine)
        return;
    // Disconnect waits for the receive thread; only then may the generation
    // move on, so that no callback of this engine can read the new value.
    m_engine->Disconnect();
    m_engine.reset();
    m_generation.fetch_add(1);
}

bool COrvaneDlg::ConnectAndLogin(std::u16string_view address, int port, int channel,
                                 std::u16string_view userName, std::u16string_view password) {
    m_videoReceived = false;
    ReleaseEngine();
    // A login time-out belongs to the connection it watched.
    m_timers.Cancel(SessionTimers::kLoginTimeout);
    m_currentChannel = channel;

    // The engine holds its buffers inline (about 240 KB).
    m_engine.reset(new (std::nothrow) CProtocolEngine(this));
    if (!m_engine)
        return false;
    m_engine->SetConnectTimeout(m_connectTimeout);

    ShowKey(u"connect_begin");
    // The connect blocks this thread: show the text now, not after it.
    if (m_statusLine)
        m_statusLine->repaint();
    WaitCursor wait;
    if (!m_engine->Connect(address, port)) {
        ShowKey(u"connect_failed");
        return false;
    }
    m_timers.Arm(SessionTimers::kLoginTimeout);
    ShowKey(u"login_server");
    m_engine->SendLogin(userName, password, channel, m_variant);
    return true;
}

void COrvaneDlg::Disconnect() {
    WaitCursor wait;
    m_videoReceived = false;
    if (m_engine) {
        ReleaseEngine();
        ShowKey(u"connect_break");
    } else {
        // Nothing posted before this call lands afterwards, engine or not.
        m_generation.fetch_add(1);
    }
    if (m_videoWindow)
        m_videoWindow->StopDecoding();
    m_timers.Cancel(SessionTimers::kVideoWatchdog);
    // A stopped session must not restart itself when the login time-out of
    // the connection just closed expires.
    m_timers.Cancel(SessionTimers::kLoginTimeout);
}

void COrvaneDlg::ShutdownSession() {
    m_timers.CancelAll();
    m_timers.SetHandler({});
    ReleaseEngine();
    m_generation.fetch_add(1);
}

void COrvaneDlg::OnPlay() {
    DebugOutput("Play\n");
    RunPlayToggle();
}

void COrvaneDlg::RunPlayToggle() {
    if (m_playActive) {
        SetPlayFace(false);
        Disconnect();
        return;
    }
    if (m_address.empty() || m_port.empty())
        return;
    const bool connected =
        ConnectAndLogin(m_address, DecimalValue(m_port), m_currentChannel, m_userName, m_password);
    if (connected)
        SetPlayFace(true);
}

void COrvaneDlg::OnPtz(int id) {
    DebugPrintf("%d\n", id);
    if (id < control::kFirstPtz || id > control::kLastPtz)
        return;
    const PtzCommand& command = kPtzCommands[size_t(id - control::kFirstPtz)];
    ShowKey(command.key);
    if (!m_engine)
        return;
    m_engine->SendPtz(m_currentChannel, wire::kPtzStop);
    m_engine->SendPtz(m_currentChannel, command.code);
    m_timers.Arm(SessionTimers::kPtzStop);
}

void COrvaneDlg::OnChannel(int id) {
    DebugPrintf("-------------------%d\n", id);
    const int channel = id - control::kFirstChannel;
    if (channel == m_currentChannel || channel >= m_channelCount)
        return;
    if (m_videoWindow)
        m_videoWindow->StopDecoding();
    if (!m_engine)
        return;
    if (m_variant == ProtocolVariant::Legacy) {
        // The legacy dialect switches on the same connection.
        ShowText(LoadText(u"change_channel") + QStringLiteral(" %1").arg(channel + 1));
        // The new channel is current before the request leaves: the server's
        // answer (a new stream format) is handled on the receive thread and
        // may arrive before SendChannel returns, and its statistics line must
        // already name the new channel.
        const int left = m_currentChannel;
        m_currentChannel = channel;
        m_engine->SendChannel(left, channel);
        return;
    }
    m_currentChannel = channel;
    Disconnect();
    SetPlayFace(ConnectAndLogin(m_address, DecimalValue(m_port), channel, m_userName, m_password));
}

void COrvaneDlg::OnTimer(int id) {
    switch (id) {
        case SessionTimers::kPtzStop: {
            m_timers.Cancel(id);
            if (m_engine)
                m_engine->SendPtz(m_currentChannel, wire::kPtzStop);
            const std::string line = StreamStatisticsLine(m_currentChannel, m_lastStreamFormat,
                                                          StatisticsSeparator::AfterTimer);
            ShowText(QString::fromStdString(line));
            break;
        }
        case SessionTimers::kLoginTimeout:
            m_timers.Cancel(id);
            RunPlayToggle();
            ShowKey(u"connect_timeout");
            break;
        case SessionTimers::kVideoWatchdog:
            m_timers.Cancel(id);
            RunPlayToggle();
            RunPlayToggle();
            break;
        default:
            break;
    }
}

}  // namespace kavrel
