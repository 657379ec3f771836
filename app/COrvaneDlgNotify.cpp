// The main window as the engine's listener (CServerNotify).
//
// Every operation runs on the receive thread of the current engine. What must
// happen there happens there: the video window's StartDecoding and AddFrame
// (the frame's bytes are valid only during the call) and the debug lines.
// Everything that changes the window or the session (status line, Play face,
// timers, channel buttons, session fields) is posted to the user-interface
// thread, in arrival order, tagged with the connection's generation; the
// posted effect is dropped there when that connection has been closed since.
// The dialect switch (codes 9 and 10) therefore replaces the engine from the
// user-interface thread, after the dispatch that raised it has returned.

#include <QMetaObject>

#include "app/COrvaneDlg.h"
#include "app/StreamStatistics.h"
#include "platform/DebugSink.h"
#include "platform/DecimalValue.h"
#include "skin/CSkinButton.h"
#include "video/CVideoAtom.h"

namespace kavrel {

template <typename Effect>
void COrvaneDlg::PostEffect(Effect&& effect) {
    const uint64_t generation = m_generation.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation, effect = std::forward<Effect>(effect)]() mutable {
            if (generation == m_generation.load())
                effect();
        },
        Qt::QueuedConnection);
}

void COrvaneDlg::OnServerEvent(int code) {
    PostEffect([this, code] {
        m_timers.Cancel(SessionTimers::kLoginTimeout);
        switch (code) {
            case EVENT_LOGIN_SUCCEEDED:
                ShowKey(u"login_succeed");
                SetPlayFace(true);
                break;
            case EVENT_LOGIN_FAILED:
                // The connection stays open, as the server leaves it.
                ShowKey(u"login_fail");
                SetPlayFace(false);
                break;
            case EVENT_USE_LEGACY:
            case EVENT_USE_CURRENT:
                m_variant =
                    code == EVENT_USE_LEGACY ? ProtocolVariant::Legacy : ProtocolVariant::Current;
                Disconnect();
                SetPlayFace(ConnectAndLogin(m_address, DecimalValue(m_port), m_currentChannel,
                                            m_userName, m_password));
                break;
            default:
                break;
        }
    });
}

void COrvaneDlg::OnDvsInfo(DvsInfo info) {
    const int count = info.ChannelCount();
    PostEffect([this, count] {
        m_channelCount = count;
        // Hides the buttons the server lacks; never shows one.
        for (int index = count; index < control::kChannelButtons; ++index) {
            if (CSkinButton* button = m_channelButtons[size_t(index)])
                button->hide();
        }
    });
}

void COrvaneDlg::OnStreamFormat(StreamFormatInfo info) {
    // StartDecoding may run here: the pipeline serialises it with a
    // StopDecoding on the user-interface thread.
    if (m_videoWindow)
        m_videoWindow->StartDecoding(info);
    const std::string line =
        StreamStatisticsLine(m_currentChannel, info, StatisticsSeparator::AfterStreamFormat);
    DebugOutput(line);
    PostEffect([this, info, text = QString::fromStdString(line)] {
        m_lastStreamFormat = info;
        ShowText(text);
    });
}

void COrvaneDlg::OnVideoData(int /*tag*/, const uint8_t* bytes, int length, int /*extra1*/,
                             int /*extra2*/, int keyFrame) {
    DebugPrintf("CH=%lld,%d--%d", (long long)m_currentChannel + 1, keyFrame, length);
    // Exactly the payload: the bytes behind it in the engine's buffer are not
    // part of the frame.
    if (m_videoWindow)
        m_videoWindow->AddFrame(bytes, length, keyFrame);
    PostEffect([this] {
        m_videoReceived = true;
        m_timers.Arm(SessionTimers::kVideoWatchdog);
    });
}

}  // namespace kavrel
