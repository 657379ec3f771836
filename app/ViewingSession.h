#pragma once
// One viewing session: the connection to one channel of a video server, from
// Play until Stop, and everything that keeps it alive.
//
// It owns the connection's source (a server of the camera protocol or an RTSP
// stream: it does not care which), the three session timers (1000 PTZ stop and
// status restore, 2000 login time-out, 4000 video watchdog), the reconnection
// with back-off, and the stream's statistics. It feeds one video window (not
// owned) and tells its owner what to show through signals: status texts, the
// Play face, the server's channel count. The main window owns one per view.
//
// The Play face is the user's wish to watch. From Play until Stop the session
// keeps trying: a failed connect, a login time-out, a lost connection, the
// watchdog or a server that keeps switching dialects without a picture leads
// to a retry on the same server and channel after a back-off with jitter
// (ReconnectPolicy), with a count-down in the status line. Only a refused
// login (retrying cannot fix a wrong password) or Stop ends it.
//
// Threads: the user-interface thread owns this object and every field unless
// a field says otherwise. Connect and login never block it: the source's
// thread resolves and connects. The SourceListener operations run on that
// thread; they touch only what their comments allow and post the
// rest to the user-interface thread, tagged with the connection's generation,
// so that nothing from a closed connection lands.

#include <QObject>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "app/ReconnectPolicy.h"
#include "app/SessionTimers.h"
#include "config/ServerSettings.h"
#include "protocol/WireFormat.h"
#include "source/StreamSource.h"
#include "video/SnapshotWriter.h"

namespace kavrel {

class CVideoAtom;
class SessionRecording;
class StreamMonitor;

class ViewingSession : public QObject, public SourceListener {
    Q_OBJECT

  public:
    explicit ViewingSession(QObject* parent = nullptr);
    // Ends the connection (and its source's thread) and every timer; the video
    // window's decoding is left to its owner.
    ~ViewingSession() override;

    // The video window the session feeds (may stay null) and the language of
    // its status texts. `video` must outlive its use here. Before the first
    // connect.
    void Attach(CVideoAtom* video, int languageIndex);
    // Moves a session, running or not, to another video window; null: none
    // (off screen), where it goes on receiving, and recording, without
    // decoding. The new window starts decoding at once from the kept key
    // frame, when the stream has been announced.
    void SetVideo(CVideoAtom* video);
    CVideoAtom* Video() const { return m_video; }
    // Takes the settings of `other`'s next connect, its timer intervals, its
    // connect bound and its back-off (not its connection or recording).
    void CopySettingsFrom(const ViewingSession& other);

    // --- Settings of the next connect ---
    // The four texts of `server` (its channel is not taken: SetCurrentChannel).
    void SetServer(const ServerSettings& server);
    // The four texts and the current channel.
    ServerSettings Server() const;
    int CurrentChannel() const { return m_currentChannel; }
    void SetCurrentChannel(int channel) { m_currentChannel = channel; }
    ProtocolVariant Variant() const { return m_variant; }
    void SetVariant(ProtocolVariant variant) { m_variant = variant; }

    // --- Commands (user-interface thread) ---
    // With the idle face: the active face at once, then connect-and-login
    // (nothing when the address or port is empty). With the active face: Stop.
    void PlayToggle();
    // Starts watching afresh (the back-off from the start): the active face,
    // then connect-and-login on `channel` with the stored server.
    void Start(int channel);
    // The idle face; ends any connect, connection, retry and decoding.
    void Stop();
    // The retry that waits starts now, the schedule going on where it is:
    // another session learned that the server answers again. Nothing when
    // no retry waits (a refused login, Stop, or a connect under way).
    void RetryNow();
    // The PTZ command of `code`, its status key shown: stop, then the command,
    // then timer 1000 for the automatic stop. Without a connection only the text.
    void Ptz(std::u16string_view key, int code);
    // The same command held (a key kept down): stop, then the command, and no
    // automatic stop until PtzRelease, which sends the stop and puts the
    // statistics line back. Nothing when no PTZ is held. A click (Ptz) ends
    // a hold: its automatic stop is not suppressed.
    void PtzHold(std::u16string_view key, int code);
    // A camera button pressed with the mouse: the click's stop and command at
    // once and timer 1000 as for a click, but while the button stays down
    // the timer sends no stop; it waits for PtzRelease. So a short click
    // keeps the design's pulse and a long press moves until the release.
    void PtzPress(std::u16string_view key, int code);
    // Ends a hold: the stop now, or, with `keepPulse` while a press's pulse
    // still runs, when its timer 1000 ends the pulse.
    void PtzRelease(bool keepPulse = false);
    // A command went out and its stop has not: the camera may be turning.
    // Kept across a lost connection: the next login sends the stop.
    bool Moving() const { return m_moving; }
    // The camera is steered beside its stream and has PTZ: it has presets
    // (F1..F9, the right-click menu).
    bool HasPresets() const;
    // The camera's presets by name, in its order (an ONVIF camera's; none
    // for others, or before the camera has told them).
    std::vector<std::u16string> PresetNames() const;
    // Moves the camera to preset `index` (0-based), ending any movement of
    // ours first; "preset_none" when it has no such preset.
    void GotoPreset(int index);
    // Stores the camera's position as preset `index` (a new preset,
    // "preset_name", where the camera has fewer).
    void StorePreset(int index);
    // The channel change of a channel button (the caller has checked that
    // `channel` differs from the current one and that the server has it).
    void ChangeChannel(int channel);
    // A snapshot of the next picture (kView: of the part the view's digital
    // zoom shows, "Capture the view"); "capture_failed" at once when no
    // picture is shown.
    void Capture(SnapshotKind kind = SnapshotKind::kPicture);

    // Runs the handler of timer `id` as if it had expired.
    void OnTimer(int id);

    // --- State (user-interface thread) ---
    bool Watching() const { return m_watching; }  // the Play face is active
    // A connection (or an attempt at one) exists.
    bool HasSource() const { return m_source != nullptr; }
    // The camera can be steered: a server of the camera protocol, or an
    // ONVIF camera with PTZ once it has told what it has (with `code`, a
    // wire::PtzCode: that command reaches it; an ONVIF camera may lack focus
    // or iris). An RTSP stream only shows.
    bool CanSteer(int code = -1) const;
    // The server has channels to switch among (a server of the camera protocol).
    bool HasChannels() const;
    // Which of an ONVIF camera's streams this session plays: the main one in
    // a large picture, the sub one in a wall tile. Takes effect at once on a
    // running stream (without a gap) and at every connect.
    void SetStreamSize(StreamSize size);
    StreamSize GetStreamSize() const { return m_streamSize; }
    // The statistics line for the status line as timer 1000 restores it.
    std::string StatisticsLine() const;
    bool VideoReceived() const { return m_videoReceived; }
    const StreamFormatInfo& LastStreamFormat() const { return m_lastStreamFormat; }
    // A retry is scheduled: the count-down runs.
    bool RetryPending() const { return m_retryTimer.isActive(); }
    // What is left of the wait before that retry (0 when none waits).
    std::chrono::milliseconds RetryRemaining() const {
        return std::chrono::milliseconds(std::max(0, m_retryTimer.remainingTime()));
    }

    // Why the session stopped without pictures by itself: the key of the
    // text it showed then ("login_fail"); empty while it watches, after Stop
    // and before the first Start.
    std::u16string_view StopReason() const { return m_stopReason; }

    // Timers 1000, 2000 and 4000; tests shorten their intervals.
    SessionTimers& Timers() { return m_timers; }
    // Bound on name lookup and connect together for later connects.
    void SetConnectTimeout(std::chrono::milliseconds timeout) { m_connectTimeout = timeout; }
    // The back-off schedule; tests shorten it. Takes effect at the next retry.
    void SetReconnectPolicy(ReconnectPolicy policy) { m_policy = std::move(policy); }

    // The stream's last minute as measured (null until Attach gave a video
    // window); it also fills the window's statistics panel while that is on.
    StreamMonitor* Monitor() const { return m_monitor.get(); }

    // The localised text of `key` (with the built-in text for keys a user's
    // older config.txt lacks).
    QString Text(std::u16string_view key) const;

    // --- Recording (app/SessionRecording.h) ---
    // Ends with Stop, a channel change and the session; a reconnection starts
    // a new file.
    SessionRecording& Recording() { return *m_recording; }
    // R: starts recording (files named from the server and channel) or stops.
    // Nothing while the session does not watch.
    void ToggleRecording();

    // --- SourceListener: the thread of the current source ---
    void OnSourceConnected(bool connected) override;
    void OnSourceEvent(SourceEvent event) override;
    void OnChannelCount(int count) override;
    void OnStreamFormat(const StreamFormatInfo& info, VideoCodec codec) override;
    void OnFrame(const uint8_t* bytes, int length, bool keyFrame,
                 std::chrono::steady_clock::time_point arrival) override;
    void OnSourceLost() override;
    void OnStreamChosen(StreamSize size) override;

  signals:
    // Every text for the status line, in order.
    void statusShown(const QString& text);
    // The Play face: active (a session runs or is being retried) or idle.
    void watchingChanged(bool watching);
    // The server's channel count, from its information record.
    void channelCountReported(int count);
    // The recording's texts (a file started, saved, failed), apart from
    // statusShown: a view that shows the status of one session among
    // several, or a tour that keeps the line for itself, still reports every
    // recording that starts or ends.
    void recordingStatusShown(const QString& text);
    // The server answered this session again: its login succeeded, or its
    // first picture came. Other sessions of the same server that wait for a
    // retry need not wait longer. Not sent for an attempt RetryNow started.
    void serverAnswered();
    // What CanSteer says has changed (an ONVIF camera told what it has).
    void steeringChanged();

  private:
    // Connect-and-login on the current channel: replaces any source by a new
    // one and starts its connect ("connect_begin"); the login follows when the
    // connect succeeds (AfterConnect). A connect that cannot even be started
    // ("connect_failed") fails as a refused one does.
    void ConnectAndLogin();
    // Tells the video window which camera it shows now (its zoom belongs
    // to that camera).
    void NoteCamera();
    // Posted outcome of the connect.
    void AfterConnect(bool connected);
    // Right after a login: the stop that a lost connection took with it (a
    // movement not stopped, or a hold that still waits for its release) goes
    // to the channel that was told to move. The hold stays.
    void SendOwedStop();
    // Closes and destroys the source ("connect_break" when there was one),
    // stops the video window's decoding, cancels timers 2000 and 4000.
    void Disconnect();
    void ReleaseSource();
    // The source the address names: an RTSP reader for a URL, the camera
    // protocol otherwise. Null when it cannot be made.
    std::unique_ptr<StreamSource> MakeSource();
    // After a login: what the camera can be steered with (steeringChanged).
    void NoteSteering();
    // The source is connected and steers.
    bool Steerable() const { return m_connected && CanSteer(); }
    // A request the source could not send or queue: the connection is lost
    // ("connect_break"); a retry follows while the user wants to watch.
    void RequestFailed();
    // A failure while the user wants to watch: the next retry is scheduled.
    // `key` is shown first (nothing for an empty key).
    void Fail(std::u16string_view key);
    void ScheduleRetry();
    void CancelRetry();
    void ShowCountdown();
    void Retry();
    void SetWatching(bool watching);
    void ShowKey(std::u16string_view key);
    void ShowText(const QString& text);
    void OnSnapshotWritten(bool ok);
    // Sends the stop on the channel that was told to move, before Stop, a
    // channel change or the end of the session takes the connection away: a
    // camera must never keep turning after its viewer moved on.
    void StopMoving();
    // Stop, then the command `code`, on the current channel (a failed send
    // is a lost connection). False when nothing could be sent.
    bool SendMove(int code);

    // Source thread: runs `effect` on the user-interface thread unless the
    // connection that posted it has been closed by then.
    template <typename Effect>
    void PostEffect(Effect&& effect);

    // Written on the user-interface thread under m_videoMutex, and read by
    // the source's thread only under it (a frame never reaches a window the
    // session has left); the user-interface thread reads it freely.
    CVideoAtom* m_video = nullptr;
    std::mutex m_videoMutex;
    int m_languageIndex = 0;

    std::u16string m_address;
    std::u16string m_port;
    std::u16string m_userName;
    std::u16string m_password;
    // 0-based. Written on the user-interface thread; the source's thread reads
    // it for its debug and statistics lines.
    std::atomic<int> m_currentChannel{0};
    ProtocolVariant m_variant = ProtocolVariant::Current;
    StreamSize m_streamSize = StreamSize::kMain;
    // The PTZ codes the last connection's camera can take (bit `code`), for
    // a camera steered beside its stream; kept between connections, so that
    // the buttons do not flicker with every reconnection.
    uint32_t m_steerCodes = 0;
    // Of the stream that plays: -1 before a source says, else a StreamSize
    // (written by the source's thread, read by either).
    std::atomic<int> m_chosenStream{-1};
    // The statistics line's names for the two streams, set by Attach (read
    // by the source's thread afterwards).
    std::string m_mainLabel;
    std::string m_subLabel;
    std::string StreamLabel() const;
    bool m_videoReceived = false;
    StreamFormatInfo m_lastStreamFormat;            // stored by the posted part of OnStreamFormat
    VideoCodec m_lastCodec = VideoCodec::kUnknown;  // and the codec it named
    bool m_watching = false;                        // the Play face
    std::u16string_view m_stopReason;               // a key of static storage, or empty
    bool m_ptzHeld = false;                         // a PtzHold or PtzPress awaits its PtzRelease
    bool m_moving = false;                          // a PTZ command went out, its stop has not
    int m_movingChannel = 0;                        // the channel that command went to

    // The current connection; none when disconnected. Its thread is the only
    // other thread that calls into this object.
    std::unique_ptr<StreamSource> m_source;
    // The connect of m_source has succeeded: requests may be sent.
    bool m_connected = false;
    // Bumped whenever a source is stopped (after its thread ended); read by
    // the source's thread to tag what it posts.
    std::atomic<uint64_t> m_generation{0};
    std::chrono::milliseconds m_connectTimeout;
    SessionTimers m_timers;

    // Reconnection.
    ReconnectPolicy m_policy;
    QTimer m_retryTimer;       // single shot: the wait before the next retry
    QTimer m_countdownTimer;   // the count-down's refresh while m_retryTimer runs
    int m_failures = 0;        // failures in a row (the retry number of the next retry)
    int m_dialectFollows = 0;  // dialect switches followed since the last picture
    // The attempt under way was started by RetryNow: its answers are not
    // announced (serverAnswered). Otherwise the tiles of a server that takes
    // logins and drops them at once would keep waking each other, without
    // any back-off; the session's own next retry announces again.
    bool m_woken = false;
    // Pictures of the current connection: when the first and the last came.
    std::optional<std::chrono::steady_clock::time_point> m_firstVideoAt;
    // Stamped by the source's thread at every video frame (steady clock ticks).
    std::atomic<std::chrono::steady_clock::rep> m_lastVideoNs{0};
    // The connection's first frame has been posted (source thread; reset
    // before each connect, when no source thread runs).
    std::atomic<bool> m_firstVideoPosted{false};
    std::chrono::steady_clock::time_point LastVideoAt() const;
    std::minstd_rand m_random;
    // Its OnFrame runs on the source's thread (it guards its own state).
    std::unique_ptr<SessionRecording> m_recording;
    std::unique_ptr<StreamMonitor> m_monitor;  // made by Attach
};

}  // namespace kavrel
