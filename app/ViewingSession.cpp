#include "app/ViewingSession.h"

#include <QApplication>
#include <QMetaObject>

#include "app/SessionRecording.h"
#include "app/StreamMonitor.h"
#include "app/StreamStatistics.h"
#include "config/Localisation.h"
#include "config/StreamUrl.h"
#include "onvif/OnvifSource.h"
#include "platform/DebugSink.h"
#include "platform/DecimalValue.h"
#include "protocol/CTCPClient_CE.h"
#include "protocol/ProtocolSource.h"
#include "record/ClipFolder.h"
#include "settings/HistoryEntry.h"
#include "source/RtspSource.h"
#include "video/CVideoAtom.h"

namespace kavrel {
namespace {

// The wait cursor for the life of the object.
class WaitCursor {
  public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

ViewingSession::ViewingSession(QObject* parent)
    : QObject(parent),
      m_connectTimeout(CTCPClient_CE::kDefaultConnectTimeout),
      m_random(std::random_device{}()) {
    m_timers.SetHandler([this](int id) { OnTimer(id); });
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &ViewingSession::Retry);
    connect(&m_countdownTimer, &QTimer::timeout, this, &ViewingSession::ShowCountdown);
    m_recording =
        std::make_unique<SessionRecording>([this](std::u16string_view key) { return Text(key); });
    connect(m_recording.get(), &SessionRecording::statusShown, this,
            &ViewingSession::recordingStatusShown);
}

ViewingSession::~ViewingSession() {
    StopMoving();
    m_timers.CancelAll();
    m_timers.SetHandler({});
    CancelRetry();
    ReleaseSource();
    m_generation.fetch_add(1);
    m_recording.reset();  // closes its files; no source thread feeds it now
}

void ViewingSession::Attach(CVideoAtom* video, int languageIndex) {
    m_languageIndex = languageIndex;
    m_mainLabel = Text(u"stream_main").toStdString();
    m_subLabel = Text(u"stream_sub").toStdString();
    SetVideo(video);
}

std::string ViewingSession::StreamLabel() const {
    const int chosen = m_chosenStream.load();
    if (chosen < 0)
        return {};
    return StreamSize(chosen) == StreamSize::kMain ? m_mainLabel : m_subLabel;
}

std::string ViewingSession::StatisticsLine() const {
    return StreamStatisticsLine(m_currentChannel, m_lastStreamFormat,
                                StatisticsSeparator::AfterTimer, m_lastCodec, StreamLabel());
}

void ViewingSession::SetStreamSize(StreamSize size) {
    m_streamSize = size;
    if (m_source)
        m_source->PreferStream(size);
}

void ViewingSession::OnStreamChosen(StreamSize size) {
    m_chosenStream = int(size);
}

void ViewingSession::SetVideo(CVideoAtom* video) {
    if (video == m_video)
        return;
    CVideoAtom* const left = m_video;
    if (left)
        disconnect(left, nullptr, this, nullptr);
    m_monitor.reset();
    {
        std::lock_guard lock(m_videoMutex);
        m_video = video;
        // Under the lock the source's thread takes for each frame: every frame
        // is either among the kept ones given here or comes after them.
        const int width = m_lastStreamFormat.Width();
        const int height = m_lastStreamFormat.Height();
        if (m_video && m_source && width > 0 && height > 0) {
            m_video->StartDecoding(VideoFormat{width, height});
            m_recording->ForEachKeptFrame([this](const SharedFrameBytes& bytes, bool keyFrame,
                                                 std::chrono::steady_clock::time_point arrival) {
                m_video->AddFrame(bytes, keyFrame ? 1 : 0, arrival);
            });
        }
    }
    if (left)
        left->StopDecoding();  // its picture stays until it shows something else
    if (!m_video)
        return;
    NoteCamera();
    m_video->SetKeyFramesOnlyText(Text(u"tile_key_frames_only"));
    connect(m_video, &CVideoAtom::snapshotWritten, this,
            [this](bool ok, const QString&) { OnSnapshotWritten(ok); });
    m_monitor = std::make_unique<StreamMonitor>(
        m_video, [this](std::u16string_view key) { return Text(key); });
}

void ViewingSession::CopySettingsFrom(const ViewingSession& other) {
    SetServer(other.Server());
    m_currentChannel = other.m_currentChannel.load();
    m_variant = other.m_variant;
    m_languageIndex = other.m_languageIndex;
    m_connectTimeout = other.m_connectTimeout;
    m_policy = other.m_policy;
    for (const int id :
         {SessionTimers::kPtzStop, SessionTimers::kLoginTimeout, SessionTimers::kVideoWatchdog})
        m_timers.SetInterval(id, other.m_timers.Interval(id));
}

void ViewingSession::SetServer(const ServerSettings& server) {
    if (server.address != m_address && m_steerCodes != 0) {
        m_steerCodes = 0;
        emit steeringChanged();
    }
    m_address = server.address;
    m_port = server.port;
    m_userName = server.userName;
    m_password = server.password;
}

ServerSettings ViewingSession::Server() const {
    return ServerSettings{m_address, m_port, m_userName, m_password, m_currentChannel};
}

QString ViewingSession::Text(std::u16string_view key) const {
    return QString::fromStdU16String(LoadText(m_languageIndex, key));
}

void ViewingSession::ShowText(const QString& text) {
    emit statusShown(text);
}

void ViewingSession::ShowKey(std::u16string_view key) {
    ShowText(Text(key));
}

void ViewingSession::SetWatching(bool watching) {
    if (m_watching == watching)
        return;
    m_watching = watching;
    emit watchingChanged(watching);
}

// --- Connection ---

bool ViewingSession::CanSteer(int code) const {
    if (!IsStreamUrl(m_address))
        return true;
    if (!IsOnvifUrl(m_address))
        return false;
    return code < 0 ? m_steerCodes != 0 : code < 32 && (m_steerCodes >> code & 1u) != 0;
}

bool ViewingSession::HasChannels() const {
    return !IsStreamUrl(m_address);
}

void ViewingSession::NoteSteering() {
    if (!m_source || !IsOnvifUrl(m_address))
        return;
    uint32_t codes = 0;
    for (int code = 0; code < 32; ++code) {
        if (code != wire::kPtzStop && m_source->CanSend(code))
            codes |= 1u << code;
    }
    if (codes == m_steerCodes)
        return;
    m_steerCodes = codes;
    emit steeringChanged();
}

std::unique_ptr<StreamSource> ViewingSession::MakeSource() {
    if (IsOnvifUrl(m_address)) {
        auto source = MakeOnvifSource(m_address, m_userName, m_password, this);
        if (source)
            source->PreferStream(m_streamSize);
        return source;
    }
    if (IsStreamUrl(m_address))
        return std::make_unique<RtspSource>(m_address, m_userName, m_password, this);
    return ProtocolSource::Make(m_address, DecimalValue(m_port), this);
}

void ViewingSession::ReleaseSource() {
    if (!m_source)
        return;
    // Stop waits for the source's thread (a connect in progress ends at
    // once); only then may the generation move on, so that no callback of this
    // source can read the new value.
    m_source->Stop();
    m_source.reset();
    m_connected = false;
    // A movement whose stop has not gone, and a hold, outlive the connection:
    // the server may keep the camera turning, so the next login stops it
    // (SendOwedStop) and the hold's release still sends its stop.
    m_generation.fetch_add(1);
}

void ViewingSession::NoteCamera() {
    if (m_video && !m_address.empty())
        m_video->ShowCamera(QString::fromStdU16String(ServerDisplayText(m_address, m_port)) +
                            QLatin1Char('/') + QString::number(m_currentChannel));
}

void ViewingSession::ConnectAndLogin() {
    NoteCamera();
    m_videoReceived = false;
    m_firstVideoAt.reset();
    ReleaseSource();
    // No source thread runs now: the next connection's first video posts again.
    m_firstVideoPosted.store(false);
    m_chosenStream = -1;
    // A login time-out belongs to the connection it watched.
    m_timers.Cancel(SessionTimers::kLoginTimeout);

    m_source = MakeSource();
    if (!m_source) {
        Fail({});
        return;
    }
    ShowKey(u"connect_begin");
    if (!m_source->Start(m_connectTimeout))
        Fail(u"connect_failed");
}

void ViewingSession::AfterConnect(bool connected) {
    if (!connected) {
        // The unconnected source stays until the next connect or disconnect.
        Fail(u"connect_failed");
        return;
    }
    m_connected = true;
    m_timers.Arm(SessionTimers::kLoginTimeout);
    ShowKey(u"login_server");
    if (!m_source->Login(SourceLogin{m_userName, m_password, m_currentChannel, m_variant})) {
        RequestFailed();
        return;
    }
    SendOwedStop();
}

void ViewingSession::SendOwedStop() {
    if ((!m_moving && !m_ptzHeld) || !CanSteer())
        return;
    // Right behind the login, which the server takes first.
    if (!m_source->SendPtz(m_moving ? m_movingChannel : m_currentChannel.load(), wire::kPtzStop)) {
        RequestFailed();
        return;
    }
    m_moving = false;
}

void ViewingSession::Disconnect() {
    WaitCursor wait;
    m_videoReceived = false;
    if (m_source) {
        ReleaseSource();
        ShowKey(u"connect_break");
    } else {
        // Nothing posted before this call lands afterwards, source or not.
        m_generation.fetch_add(1);
    }
    m_recording->Interrupt();  // a new file after the gap
    if (m_video)
        m_video->StopDecoding();
    m_timers.Cancel(SessionTimers::kVideoWatchdog);
    // A stopped session must not restart itself when the login time-out of
    // the connection just closed expires.
    m_timers.Cancel(SessionTimers::kLoginTimeout);
}

void ViewingSession::RequestFailed() {
    // The source's thread reports the same loss; Disconnect drops that report.
    // Said even after a refused login: the command the user just gave did
    // not go out, and its text must not stand as if it had.
    Disconnect();
    Fail({});
}

// --- Reconnection ---

void ViewingSession::Fail(std::u16string_view key) {
    if (!key.empty())
        ShowKey(key);
    if (m_watching)
        ScheduleRetry();
}

void ViewingSession::ScheduleRetry() {
    if (m_firstVideoAt && LastVideoAt() - *m_firstVideoAt >= m_policy.stableViewing)
        m_failures = 0;
    m_firstVideoAt.reset();
    m_woken = false;
    ++m_failures;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    m_retryTimer.start(RetryDelay(m_policy, m_failures, unit(m_random)));
    m_countdownTimer.start(m_policy.countdownTick);
    ShowCountdown();
}

void ViewingSession::ShowCountdown() {
    const std::chrono::milliseconds left(m_retryTimer.remainingTime());
    ShowText(FormatCountdown(Text(u"reconnect_in"), std::max(1, SecondsLeft(left)), m_failures));
}

void ViewingSession::CancelRetry() {
    m_retryTimer.stop();
    m_countdownTimer.stop();
}

void ViewingSession::Retry() {
    m_countdownTimer.stop();
    if (!m_watching)
        return;
    m_dialectFollows = 0;
    ConnectAndLogin();
}

// --- Commands ---

void ViewingSession::RetryNow() {
    if (!RetryPending())
        return;
    m_retryTimer.stop();
    m_woken = true;
    Retry();
}

void ViewingSession::PlayToggle() {
    if (m_watching) {
        Stop();
        return;
    }
    if (!CanConnect(m_address, m_port))
        return;
    Start(m_currentChannel);
}

void ViewingSession::Start(int channel) {
    CancelRetry();
    m_failures = 0;
    m_woken = false;
    m_dialectFollows = 0;
    m_currentChannel = channel;
    m_stopReason = {};
    // The Stop face at once, so that a second press cancels the connect.
    SetWatching(true);
    ConnectAndLogin();
}

void ViewingSession::Stop() {
    // Stopped during a count-down there is no connection to break, but the
    // count-down must not stay on screen.
    const bool countingDown = RetryPending() && !m_source;
    StopMoving();
    m_recording->Stop();
    m_stopReason = {};
    SetWatching(false);
    CancelRetry();
    Disconnect();
    if (countingDown)
        ShowKey(u"connect_break");
}

void ViewingSession::Ptz(std::u16string_view key, int code) {
    ShowKey(key);
    // A click ends any hold: its automatic stop must not be suppressed.
    m_ptzHeld = false;
    if (SendMove(code))
        m_timers.Arm(SessionTimers::kPtzStop);
}

bool ViewingSession::SendMove(int code) {
    if (!m_source || !Steerable())
        return false;
    if (!m_source->SendPtz(m_currentChannel, wire::kPtzStop) ||
        !m_source->SendPtz(m_currentChannel, code)) {
        RequestFailed();
        return false;
    }
    m_moving = true;
    m_movingChannel = m_currentChannel;
    return true;
}

void ViewingSession::PtzHold(std::u16string_view key, int code) {
    // A stop that timer 1000 sent now (after a click or a snapshot) would end
    // the movement the user is still asking for.
    m_timers.Cancel(SessionTimers::kPtzStop);
    m_ptzHeld = true;
    ShowKey(key);
    SendMove(code);
}

void ViewingSession::StopMoving() {
    m_ptzHeld = false;
    if (!m_moving)
        return;
    // Its stop goes now; timer 1000 has nothing left to stop.
    m_timers.Cancel(SessionTimers::kPtzStop);
    // Whoever called is about to end or change the connection: a stop that
    // cannot be sent now waits for the next login, and the next request
    // reports the loss.
    if (!m_source || !Steerable())
        return;
    m_moving = false;
    m_source->SendPtz(m_movingChannel, wire::kPtzStop);
}

void ViewingSession::PtzPress(std::u16string_view key, int code) {
    Ptz(key, code);
    m_ptzHeld = m_moving;
}

void ViewingSession::PtzRelease(bool keepPulse) {
    if (!m_ptzHeld)
        return;
    m_ptzHeld = false;
    if (keepPulse && m_timers.IsArmed(SessionTimers::kPtzStop))
        return;  // the pulse's own stop comes with timer 1000
    OnTimer(SessionTimers::kPtzStop);
}

bool ViewingSession::HasPresets() const {
    return IsOnvifUrl(m_address) && CanSteer(wire::kPtzUp);
}

std::vector<std::u16string> ViewingSession::PresetNames() const {
    return m_source && m_connected ? m_source->PresetNames() : std::vector<std::u16string>{};
}

void ViewingSession::GotoPreset(int index) {
    if (!m_source || !Steerable())
        return;
    const std::vector<std::u16string> names = m_source->PresetNames();
    if (index < 0 || size_t(index) >= names.size()) {
        ShowText(Text(u"preset_none").replace(QStringLiteral("%d"), QString::number(index + 1)));
        return;
    }
    // The preset's travel must not meet a stop of ours on its way.
    StopMoving();
    m_source->GotoPreset(index);
    ShowText(Text(u"preset_goto")
                 .replace(QStringLiteral("%s"), QString::fromStdU16String(names[size_t(index)])));
    m_timers.Arm(SessionTimers::kPtzStop);  // puts the statistics line back
}

void ViewingSession::StorePreset(int index) {
    if (!m_source || !Steerable() || index < 0)
        return;
    StopMoving();
    const std::vector<std::u16string> names = m_source->PresetNames();
    const QString name =
        size_t(index) < names.size()
            ? QString::fromStdU16String(names[size_t(index)])
            : Text(u"preset_name").replace(QStringLiteral("%d"), QString::number(index + 1));
    m_source->StorePreset(index, name.toStdU16String());
    ShowText(Text(u"preset_stored").replace(QStringLiteral("%s"), name));
    m_timers.Arm(SessionTimers::kPtzStop);
}

void ViewingSession::ChangeChannel(int channel) {
    // A stream has no channels to switch among.
    if (!HasChannels())
        return;
    StopMoving();
    m_recording->Stop();
    m_recording->Interrupt();  // the kept frames are the old channel's
    if (m_video)
        m_video->StopDecoding();
    if (!m_source) {
        // Waiting for a retry: the user wants this channel now.
        if (m_watching)
            Start(channel);
        return;
    }
    if (m_variant == ProtocolVariant::Legacy && m_connected) {
        // The legacy dialect switches on the same connection.
        ShowText(Text(u"change_channel") + QStringLiteral(" %1").arg(channel + 1));
        // The new channel is current before the request leaves: the server's
        // answer (a new stream format) is handled on the source's thread and
        // may arrive before SendChannel returns, and its statistics line must
        // already name the new channel.
        const int left = m_currentChannel;
        m_currentChannel = channel;
        NoteCamera();
        if (!m_source->SendChannel(left, channel))
            RequestFailed();
        return;
    }
    m_currentChannel = channel;
    Disconnect();
    Start(channel);
}

void ViewingSession::ToggleRecording() {
    if (m_recording->Active())
        m_recording->Stop();
    else if (m_watching)  // nothing to record otherwise
        m_recording->Start(record::ClipNamePrefix(m_address, m_currentChannel));
}

void ViewingSession::Capture(SnapshotKind kind) {
    if (!m_video)
        return;
    if (!m_videoReceived || m_video->LatestPicture().isNull()) {
        // Asked with nothing on screen: say so now, rather than serve it with
        // whatever picture comes minutes later.
        ShowKey(u"capture_failed");
        return;
    }
    // The status line reports the outcome once the decode thread has written
    // (or failed to write) the file: OnSnapshotWritten.
    m_video->RequestSnapshot(kind);
}

void ViewingSession::OnSnapshotWritten(bool ok) {
    ShowKey(ok ? u"capture_succeed" : u"capture_failed");
    // Timer 1000 puts the statistics line back (and sends a PTZ stop, as it
    // does after the camera buttons).
    m_timers.Arm(SessionTimers::kPtzStop);
}

void ViewingSession::OnTimer(int id) {
    switch (id) {
        case SessionTimers::kPtzStop: {
            m_timers.Cancel(id);
            if (m_source && Steerable() && !m_ptzHeld) {
                const bool sent = m_source->SendPtz(
                    m_moving ? m_movingChannel : m_currentChannel.load(), wire::kPtzStop);
                m_moving = false;
                if (!sent) {
                    RequestFailed();
                    break;
                }
            }
            ShowText(QString::fromStdString(StatisticsLine()));
            break;
        }
        case SessionTimers::kLoginTimeout:
            m_timers.Cancel(id);
            Disconnect();
            ShowKey(u"connect_timeout");
            Fail({});
            break;
        case SessionTimers::kVideoWatchdog: {
            m_timers.Cancel(id);
            if (!m_watching)
                break;
            // Video still comes: watch again for the rest of an interval from
            // the last frame (the source's thread only stamps the frames).
            const auto interval = m_timers.Interval(id);
            const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - LastVideoAt());
            if (m_videoReceived && since < interval) {
                m_timers.ArmFor(id, interval - since);
                break;
            }
            Disconnect();
            Fail({});
            break;
        }
        default:
            break;
    }
}

// --- SourceListener: the source's thread ---
//
// What must happen on the source's thread happens there: the video window's
// StartDecoding and AddFrame (the frame's bytes are valid only during the
// call) and the debug lines. Everything that changes the session is posted.

template <typename Effect>
void ViewingSession::PostEffect(Effect&& effect) {
    const uint64_t generation = m_generation.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation, effect = std::forward<Effect>(effect)]() mutable {
            if (generation == m_generation.load())
                effect();
        },
        Qt::QueuedConnection);
}

void ViewingSession::OnSourceConnected(bool connected) {
    PostEffect([this, connected] { AfterConnect(connected); });
}

void ViewingSession::OnSourceLost() {
    // The lost connection sends no more pictures, so its decode thread is
    // told to end here, on the source's thread. A server that goes away
    // takes all its tiles at once; their decode threads, at a lower weight
    // among busy decoders, then end side by side while the losses wait
    // their turn, and the stops on the user-interface thread find them gone
    // instead of waiting for each in turn.
    {
        std::lock_guard lock(m_videoMutex);
        if (m_video)
            m_video->Pipeline().RequestStop();
    }
    PostEffect([this] {
        // A refused login leaves the connection to the server; its end
        // changes nothing.
        if (!m_watching)
            return;
        Disconnect();
        Fail({});
    });
}

void ViewingSession::OnSourceEvent(SourceEvent event) {
    PostEffect([this, event] {
        m_timers.Cancel(SessionTimers::kLoginTimeout);
        switch (event) {
            case SourceEvent::kLoginSucceeded:
                NoteSteering();
                ShowKey(u"login_succeed");
                SetWatching(true);
                // A connection that dies before its first picture is noticed too.
                m_timers.Arm(SessionTimers::kVideoWatchdog);
                if (!m_woken)
                    emit serverAnswered();
                break;
            case SourceEvent::kLoginRefused:
            case SourceEvent::kNotFound:
            case SourceEvent::kUnsupported: {
                // The connection stays open, as the server leaves it; retrying
                // cannot mend a wrong user, password, channel or stream.
                const std::u16string_view key =
                    event == SourceEvent::kLoginRefused ? std::u16string_view(u"login_fail")
                    : event == SourceEvent::kNotFound   ? std::u16string_view(u"stream_not_found")
                                                      : std::u16string_view(u"stream_unsupported");
                ShowKey(key);
                m_stopReason = key;
                SetWatching(false);
                CancelRetry();
                m_timers.Cancel(SessionTimers::kVideoWatchdog);
                break;
            }
            case SourceEvent::kUseLegacy:
            case SourceEvent::kUseCurrent:
                // A server that keeps asking for the other dialect without
                // ever sending a picture is a server that fails to connect.
                if (++m_dialectFollows > m_policy.maxDialectFollows) {
                    Disconnect();
                    SetWatching(true);
                    Fail(u"connect_failed");
                    break;
                }
                m_variant = event == SourceEvent::kUseLegacy ? ProtocolVariant::Legacy
                                                             : ProtocolVariant::Current;
                Disconnect();
                SetWatching(true);
                ConnectAndLogin();
                break;
        }
    });
}

void ViewingSession::OnChannelCount(int count) {
    PostEffect([this, count] { emit channelCountReported(count); });
}

void ViewingSession::OnStreamFormat(const StreamFormatInfo& info, VideoCodec codec) {
    // StartDecoding may run here: the pipeline serialises it with a
    // StopDecoding on the user-interface thread.
    {
        std::lock_guard lock(m_videoMutex);
        if (m_video)
            m_video->StartDecoding(VideoFormat{info.Width(), info.Height()});
    }
    const std::string line = StreamStatisticsLine(
        m_currentChannel, info, StatisticsSeparator::AfterStreamFormat, codec, StreamLabel());
    DebugOutput(line);
    PostEffect([this, info, codec, text = QString::fromStdString(line)] {
        m_lastStreamFormat = info;
        m_lastCodec = codec;
        ShowText(text);
    });
}

void ViewingSession::OnFrame(const uint8_t* bytes, int length, bool keyFrame,
                             std::chrono::steady_clock::time_point arrival) {
    DebugPrintf("CH=%lld,%d--%d", (long long)m_currentChannel + 1, keyFrame ? 1 : 0, length);
    // Per frame only a time stamp; the session hears of the first frame alone.
    // The frame carries it too, for its latency to the screen.
    // Exactly the payload: the bytes behind it in the source's buffer are not
    // part of the frame. Copied once, here (that buffer is reused after the
    // call): the decode queue and the recording share that copy.
    SharedFrameBytes frame = CopyFrameBytes(bytes, length);
    {
        // The window and the kept frames see the same frames, whichever
        // window the session moves to meanwhile (SetVideo).
        std::lock_guard lock(m_videoMutex);
        if (m_video)
            m_video->AddFrame(frame, keyFrame, arrival);
        m_recording->OnFrame(std::move(frame), keyFrame, arrival);
    }
    m_lastVideoNs.store(arrival.time_since_epoch().count());
    if (m_firstVideoPosted.exchange(true))
        return;
    PostEffect([this, arrival] {
        m_videoReceived = true;
        m_dialectFollows = 0;
        // The frame's own time: the last frame's is never earlier.
        m_firstVideoAt = arrival;
        m_timers.Arm(SessionTimers::kVideoWatchdog);
        if (!m_woken)
            emit serverAnswered();
    });
}

std::chrono::steady_clock::time_point ViewingSession::LastVideoAt() const {
    return std::chrono::steady_clock::time_point(
        std::chrono::steady_clock::duration(m_lastVideoNs.load()));
}

}  // namespace kavrel
