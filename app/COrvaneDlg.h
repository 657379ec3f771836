#pragma once
// The main window: one modal dialog for the life of the process.
//
// Construction sets the session fields to their start values and loads the
// application icon; Initialise() then runs the start-up sequence (language,
// settings labels, current server, icon, network bring-up, window size,
// controls). Every control is created in code, named by its id in decimal
// (objectName), and placed once from the client size (skin/MainLayout.h).
//
// Commands: every button's click arrives at OnCommand(id), the one dispatch
// by id. The main window itself handles exit (201, 208) and the channel pages
// (206); the session commands (Play, Capture, Fullscreen, Set, PTZ, channels)
// live in the session controller's own source files (COrvaneDlgSession.cpp:
// connection, Play, PTZ, channels, timers; COrvaneDlgNotify.cpp: the
// CServerNotify operations; COrvaneDlgView.cpp: Capture and full screen;
// COrvaneDlgSet.cpp: the settings command).
//
// Threads: the user-interface thread owns this object and every field below
// unless the field says otherwise. The CServerNotify operations run on the
// connection's receive thread: they touch only what their comments allow and
// post everything else to the user-interface thread, tagged with the
// connection's generation so that nothing from a closed connection lands.

#include <QIcon>
#include <QRect>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "app/SessionTimers.h"
#include "config/Localisation.h"
#include "protocol/CServerNotify.h"
#include "protocol/WireFormat.h"
#include "skin/CSkinDialog.h"
#include "skin/ControlIds.h"

namespace kavrel {

class CProtocolEngine;
class CSkinButton;
class CSkinStatic;
class CVideoAtom;

class COrvaneDlg : public CSkinDialog, public CServerNotify {
    Q_OBJECT

  public:
    // `settingsLabels` belongs to the application object and outlives this
    // window; Initialise() fills it.
    explicit COrvaneDlg(SettingsLabels& settingsLabels, QWidget* parent = nullptr);
    // Stops the session (connection and receive thread, then the video
    // window's decode thread) before any control goes away.
    ~COrvaneDlg() override;

    // The start-up sequence; runs once (later calls do nothing). exec() runs
    // it first when nobody did.
    void Initialise();
    int exec() override;
    bool IsInitialised() const { return m_initialised; }

    // Runs command `id` as if its button were pressed; unknown ids do nothing.
    void OnCommand(int id);

    // Controls by id (201, 203 to 218, 1219 to 1250); nullptr for other ids
    // and before Initialise(). The window keeps non-owning pointers: each
    // control is a child widget, owned and destroyed by this window.
    CSkinButton* Button(int id) const;
    CSkinButton* ChannelButton(int index) const;  // index 0 to 31 (channel 1 to 32)
    CSkinStatic* TitleLabel() const { return m_titleLabel; }
    CSkinStatic* StatusLine() const { return m_statusLine; }
    CVideoAtom* VideoWindow() const { return m_videoWindow; }
    // The video window's rectangle right after the layout placed it, in the
    // window's client coordinates (which are the program's screen coordinates).
    QRect VideoWindowRect() const { return m_videoWindowRect; }

    // Session state (read access for tests and tools).
    int channelCount() const { return m_channelCount; }
    int currentChannel() const { return m_currentChannel; }
    int settingsChannel() const { return m_settingsChannel; }
    bool videoReceived() const { return m_videoReceived; }
    ProtocolVariant variant() const { return m_variant; }
    ServerSettings CurrentServer() const;  // the four texts and the current channel
    // The settings dialog's caption and labels (the application's, loaded at start).
    const SettingsLabels& settingsLabels() const { return m_settingsLabels; }
    void SetChannelCount(int count) { m_channelCount = count; }

    // --- The session (user-interface thread) ---

    // Connect-and-login: replaces any engine by a new one, shows
    // "connect_begin" (with the wait cursor) and connects, blocking until the
    // connection is made, refused or timed out; on success arms the login
    // time-out (timer 2000), shows "login_server" and sends the login in the
    // current variant. False (and "connect_failed") when the connection
    // failed; the unconnected engine stays until the next disconnect. The
    // caller sets the Play face from the result.
    bool ConnectAndLogin(std::u16string_view address, int port, int channel,
                         std::u16string_view userName, std::u16string_view password);
    // Closes and destroys the engine ("connect_break" when there was one),
    // stops the video window's decoding, cancels the watchdog and the login
    // time-out. Nothing the closed connection posted lands afterwards.
    void Disconnect();
    // The Play button's face: active (169, a session runs) or idle (134).
    void SetPlayFace(bool active);
    bool PlayFaceActive() const { return m_playActive; }
    bool HasEngine() const { return m_engine != nullptr; }
    // The dialect of the next login.
    void SetVariant(ProtocolVariant variant) { m_variant = variant; }
    // The last stream format announced (all zero before the first).
    const StreamFormatInfo& lastStreamFormat() const { return m_lastStreamFormat; }
    bool IsFullScreen() const { return m_fullScreen; }

    // Timers 1000, 2000 and 4000 (SessionTimers::kPtzStop ...). Tests shorten
    // their intervals and the connect bound of later engines.
    SessionTimers& Timers() { return m_timers; }
    void SetConnectTimeout(std::chrono::milliseconds timeout) { m_connectTimeout = timeout; }
    // Runs the handler of timer `id` as if it had expired.
    void OnTimer(int id);

    // --- CServerNotify: receive thread of the current engine ---
    void OnServerEvent(int code) override;
    void OnDvsInfo(DvsInfo info) override;
    void OnStreamFormat(StreamFormatInfo info) override;
    void OnVideoData(int tag, const uint8_t* bytes, int length, int extra1, int extra2,
                     int keyFrame) override;

    // The window's caption and the title label's text.
    static constexpr const char* kCaption = "Kavrel";
    static constexpr const char* kTitleText = " Kavrel 1.0.1";
    // The logical size of the program's screen when the desktop is not portrait.
    static constexpr int kScreenWidth = 480;
    static constexpr int kScreenHeight = 640;

  signals:
    // Every text put into the status line, in order (for tests and tools).
    void statusShown(const QString& text);

  public slots:
    // Leaving by the window manager's close button or Escape asks the same
    // question as the exit buttons instead of ending without it.
    void reject() override;

  protected:
    // A tap on the window itself leaves full screen.
    void mousePressEvent(QMouseEvent* event) override;

  private:
    // Start-up steps.
    void LoadCurrentServerFields();
    void RequestNetwork();
    void PlaceOnScreen();
    void CreateControls();
    CSkinButton* AddButton(int id, int bitmapId, const QRect& rect);

    // Commands of the main window itself.
    void OnExit();
    void OnSwitch();

    // Hooks of the session controller (bodies in its own source files).
    void OnPlay();
    void OnCapture();
    void OnFullScreen();
    void OnSet();
    void OnPtz(int id);
    void OnChannel(int id);
    // Ends a running session: closes the connection (ending its receive
    // thread) and drops whatever it posted. Runs in the destructor first.
    void ShutdownSession();

    // Session internals (COrvaneDlgSession.cpp).
    void ConnectSessionSignals();  // after the controls exist
    void ReleaseEngine();          // disconnects and destroys the engine, if any
    void ShowKey(std::u16string_view key);
    void ShowText(const QString& text);
    void RunPlayToggle();
    // Receive thread: runs `effect` on the user-interface thread unless the
    // connection that posted it has been closed by then.
    template <typename Effect>
    void PostEffect(Effect&& effect);

    // Capture and full screen (COrvaneDlgView.cpp).
    void OnSnapshotWritten(bool ok);
    void OnVideoTapped();
    void SetFullScreenView(bool on);

    // Shows the first page of channel buttons and hides the other pages.
    void ShowFirstChannelPage();

    SettingsLabels& m_settingsLabels;  // the application's
    QIcon m_icon;
    bool m_initialised = false;

    // Session fields.
    int m_channelCount = control::kChannelButtons;  // the server's, 32 until it says
    // 0-based. Written on the user-interface thread; the receive thread reads
    // it for its debug and statistics lines.
    std::atomic<int> m_currentChannel{0};
    std::u16string m_address;
    std::u16string m_port;
    std::u16string m_userName;
    std::u16string m_password;
    int m_settingsChannel = 0;  // handed to and taken from the settings dialog; -1: none
    bool m_videoReceived = false;
    ProtocolVariant m_variant = ProtocolVariant::Current;
    StreamFormatInfo m_lastStreamFormat;  // stored by the posted part of OnStreamFormat
    bool m_playActive = false;            // the Play face
    // The current connection; none when disconnected. Its receive thread is
    // the only other thread that calls into this object.
    std::unique_ptr<CProtocolEngine> m_engine;
    // Bumped whenever an engine is closed (after its receive thread ended);
    // read by the receive thread to tag what it posts. A posted effect whose
    // tag differs from the current value belongs to a closed connection.
    std::atomic<uint64_t> m_generation{0};
    std::chrono::milliseconds m_connectTimeout;
    SessionTimers m_timers;

    // Full screen.
    bool m_fullScreen = false;
    std::array<QRect, control::kChannelButtons> m_savedChannelRects{};  // taken on entering

    // Controls (children of this window; nullptr when not created).
    CSkinStatic* m_titleLabel = nullptr;
    CSkinButton* m_titleExit = nullptr;
    std::array<CSkinButton*, 6> m_commandButtons{};                         // ids 203 to 208
    std::array<CSkinButton*, 10> m_ptzButtons{};                            // ids 209 to 218
    std::array<CSkinButton*, control::kChannelButtons> m_channelButtons{};  // channel 1 to 32
    CSkinStatic* m_statusLine = nullptr;
    CVideoAtom* m_videoWindow = nullptr;
    QRect m_videoWindowRect;
};

}  // namespace kavrel
