#pragma once
// The main window: one modal dialog for the life of the process, and the
// windows opened beside it on other monitors (app/MainWindows.h), each with
// its own sessions, wall, keys and full screen, shown without a modal run.
//
// Construction sets the session fields to their start values and loads the
// application icon; Initialise() then runs the start-up sequence (language,
// settings labels, current server, icon, network bring-up, window size,
// controls). Every control is created in code, named by its id in decimal
// (objectName), and placed from the client size (skin/MainLayout.h) again at
// every resize: the handheld's arrangement while the window is not wider than
// tall, the desktop's otherwise. It opens at 480 x 640 (or where the user
// left it) and takes any size.
//
// Keys (COrvaneDlgKeys.cpp) and the video window's right-click menu
// (COrvaneDlgView.cpp) run the same commands as the buttons.
//
// Commands: every button's click arrives at OnCommand(id), the one dispatch
// by id. The main window itself handles exit (201, 208) and the channel pages
// (206); it maps the session commands (Play, Capture, PTZ, channels) to its
// viewing session (app/ViewingSession.h), which owns the connection, its
// timers and the reconnection (COrvaneDlgSession.cpp: the mapping;
// COrvaneDlgView.cpp: Capture and full screen; COrvaneDlgSet.cpp: the
// settings command).
//
// Threads: the user-interface thread owns this object and every field below.
// Only the session's receive threads run elsewhere, and they reach this window
// through the session's signals, on the user-interface thread.

#include <QElapsedTimer>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QRect>
#include <QScreen>
#include <QTimer>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/CameraWall.h"
#include "app/CommandLine.h"
#include "app/SessionTimers.h"
#include "app/SettingsWriter.h"
#include "app/ViewingSession.h"
#include "app/WallTour.h"
#include "config/Localisation.h"
#include "protocol/WireFormat.h"
#include "settings/ViewPreferences.h"
#include "settings/WallStore.h"
#include "settings/WindowPlaces.h"
#include "skin/CSkinDialog.h"
#include "skin/ControlIds.h"

class QTimer;

namespace kavrel {

class CSkinButton;
class CSkinStatic;
class CVideoAtom;
class OffScreenRecordings;
class PointerHider;

class COrvaneDlg : public CSkinDialog {
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
    // The command line's wishes, after Initialise(): --channel turns to the
    // channel's page and makes it current, --play presses Play once the
    // event loop runs, --fullscreen enters full screen with the first picture.
    // URLs play at once, in the single view or a wall (UrlWallView).
    // `restoreStored`: a wall (and a tour) kept from the last run comes back
    // when no view or channel is asked for; a window opened by a later start
    // shows only what that start asked.
    void ApplyStartOptions(const CommandLine& options, bool restoreStored = true);
    // The options of a later start, forwarded by the single instance to this
    // running window: --view shows the view, --channel turns to the channel
    // (as its button), --play starts what is not playing, --fullscreen and
    // --kiosk go full screen (with the first picture, as at start).
    void ApplyForwardedOptions(const CommandLine& options);

    // --- Several main windows (app/MainWindows.h); set before Initialise() ---
    // Window 1 is the main window: the exit question ends the program from any
    // window by ending its modal run, and it alone keeps the window's place
    // and size (ViewPreferences). Window k >= 2 keeps its view, tour and
    // monitor under its own number (settings/WindowPlaces.h), and its close
    // button closes it alone (`closed`).
    void SetWindowNumber(int number) { m_windowNumber = number; }
    int WindowNumber() const { return m_windowNumber; }
    // Opens on `monitor` (nullptr: where the kept place says, as one window
    // always did): the kept place when it lies on that monitor, else the
    // window's size centred on it.
    void SetStartMonitor(QScreen* monitor) { m_startMonitor = monitor; }
    // The writer every main window posts its settings to, so that no window's
    // close waits for the disk; without one a window makes its own.
    void ShareSettingsWriter(std::shared_ptr<SettingsWriter> writer) {
        m_settingsWriter = std::move(writer);
    }
    // Where the window is now, as the settings keep it.
    WindowPlace CurrentPlace() const;
    // The saved views as this window knows them, and one saved in another.
    const std::array<std::optional<NamedView>, kNamedViews>& NamedViews() const {
        return m_namedViews;
    }
    void TakeNamedView(int slot, const NamedView& view);
    // Saves the server and the window's place and ends the main window's
    // modal run (in window k: asks window 1 to, by `leaveRequested`); with
    // `tellFailures`, a save that failed is said in a box first.
    void Leave(bool tellFailures);

    // Runs command `id` as if its button were pressed; unknown ids do nothing.
    void OnCommand(int id);
    // Leaves as the exit question's Yes does, without asking (a signal to
    // end): any box or dialog open over the window is dismissed first.
    void EndWithoutAsking();

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
    int currentChannel() const { return m_session->CurrentChannel(); }
    int settingsChannel() const { return m_settingsChannel; }
    bool videoReceived() const { return m_session->VideoReceived(); }
    ProtocolVariant variant() const { return m_session->Variant(); }
    ServerSettings CurrentServer() const;  // the four texts and the current channel
    // The settings dialog's caption and labels (the application's, loaded at start).
    const SettingsLabels& settingsLabels() const { return m_settingsLabels; }
    void SetChannelCount(int count) { m_channelCount = count; }

    // --- The session (user-interface thread) ---
    ViewingSession& Session() { return *m_session; }
    // The Play button's face: active (169: the user wants to watch; a session
    // runs or is being retried) or idle (134).
    bool PlayFaceActive() const { return m_session->Watching(); }
    bool HasSource() const { return m_session->HasSource(); }
    // The dialect of the next login.
    void SetVariant(ProtocolVariant variant) { m_session->SetVariant(variant); }
    // The last stream format announced (all zero before the first).
    const StreamFormatInfo& lastStreamFormat() const { return m_session->LastStreamFormat(); }
    bool IsFullScreen() const { return m_fullScreen; }
    // --kiosk: full screen that only leaving the program ends.
    bool IsKiosk() const { return m_kiosk; }
    // Over full screen the pointer hides after this long without movement
    // (PointerHider::kIdleTime); tests shorten it.
    void SetPointerIdleTime(std::chrono::milliseconds time);
    bool KeepAspect() const { return m_preferences.keepAspect; }
    // The first index of the channel page shown (0, 4, ... 28).
    int ChannelPage() const { return m_page; }
    // The right-click menu of the video window (of wall tile `tile`), made
    // afresh (the caller owns it).
    QMenu* MakeVideoMenu(int tile = -1);

    // --- The camera wall (COrvaneDlgWall.cpp, COrvaneDlgWallMenu.cpp) ---
    // Up to 16 cameras at once, each tile a session of its own on any server,
    // shown where the video window lies. While it shows, the single view's
    // session is stopped and PTZ, Capture and the status line act on the
    // selected tile.
    bool IsWallView() const { return m_wallOn; }
    CameraWall* Wall() const { return m_wall; }
    // G: between the single view and the last wall layout (2x2 at first).
    void ToggleWallView();
    // L: 2x2, 3x3, 4x4, 1+5 and round again; from the single view, 2x2.
    void CycleWallLayout();
    // The Layout menu: a wall layout, or Single (the selected tile's camera
    // in the single view).
    void SetWallLayout(WallLayout layout);
    WallLayout LastWallLayout() const { return m_wallLayout; }
    // What the window shows as a view: the wall's layout and tiles, or the
    // single view's camera as the one tile of WallLayout::Single.
    WallView CurrentWallView() const;
    // Shows `view` as CurrentWallView describes it, watching its cameras.
    void ShowWallView(const WallView& view);
    // "Show here": tile `index` shows `source` (an empty one: nothing).
    void ShowInTile(int index, const TileSource& source);
    // "Fill with this server's channels": every tile a channel of the
    // selected tile's server (or the main window's), consecutive from the page.
    void FillWallWithServer();
    // The session the commands act on: the selected tile's in the wall.
    ViewingSession& ActiveSession();
    // The wall shows a view whose cameras are all RTSP streams.
    bool AllTilesAreStreams() const;

    // --- Digital zoom (COrvaneDlgView.cpp) ---
    // The video window the zoom commands act on: the selected tile's in the
    // camera wall. Each keeps its own zoom (wheel and drag are its own).
    CVideoAtom* ActiveVideo() const;
    void ResetZoom();    // Z and the menu: back to the whole picture
    void CaptureView();  // the menu's "Capture the view"
    // I and the menu: the statistics panel over the single view and over
    // every tile, on or off (CVideoAtom::SetStatisticsShown is each window's
    // switch; tiles made later must be given StatisticsOn()).
    void ToggleStatistics();
    bool StatisticsOn() const { return m_statisticsOn; }

    // --- Saved views and the tour (COrvaneDlgViews.cpp) ---
    // The view shown is kept in the settings store whenever it changes (by a
    // writer thread, checked every kViewSaveCheck) and when the window goes;
    // a wall comes back at start (ApplyStartOptions), or saved view --view N.
    static constexpr std::chrono::milliseconds kViewSaveCheck{2000};
    // Ctrl+1..9: the view shown as saved view `slot` (1 to 9).
    void SaveView(int slot);
    // Alt+1..9: shows saved view `slot`; false (and a status text) when none.
    bool RecallView(int slot);
    // T: the tour through the saved views (or the pages) on or off.
    void ToggleTour();
    WallTour* Tour() const { return m_tour; }
    // Waits for the settings writes handed to the writer thread so far.
    void FlushSettingsWrites();

    // --- Recording off screen (COrvaneDlgRecord.cpp) ---
    // The cameras whose recording goes on while no view shows them.
    OffScreenRecordings* OffScreen() const { return m_offScreen; }
    // The "REC n" mark saying how many they are (hidden while none).
    QWidget* OffScreenMark() const { return m_offScreenMark; }

    // Timers 1000, 2000 and 4000 (SessionTimers::kPtzStop ...). Tests shorten
    // their intervals, the connect bound and the back-off.
    SessionTimers& Timers() { return m_session->Timers(); }
    void SetConnectTimeout(std::chrono::milliseconds timeout) {
        m_session->SetConnectTimeout(timeout);
    }
    // Runs the handler of timer `id` as if it had expired.
    void OnTimer(int id) { m_session->OnTimer(id); }

    // A camera key's release ends its hold only when no press of the same key
    // follows within this time: a busy X11 client can read the release of an
    // auto-repeat before its press and see both unmarked.
    static constexpr std::chrono::milliseconds kKeyReleaseGrace{60};
    // The camera key held now (its button id; 0: none).
    int HeldPtz() const { return m_heldPtz; }

    // The window's caption and the title label's text.
    static constexpr const char* kCaption = "Kavrel";
    static constexpr const char* kTitleText = " Kavrel 1.0.1";
    // The logical size of the program's screen when the desktop is not portrait.
    static constexpr int kScreenWidth = 480;
    static constexpr int kScreenHeight = 640;
    // The window is not made smaller than the handheld's smallest screen.
    static constexpr int kMinimumWidth = 240;
    static constexpr int kMinimumHeight = 240;

  signals:
    // Every text put into the status line, in order (for tests and tools).
    void statusShown(const QString& text);
    // Window k >= 2: the exit question was answered Yes there (the program ends).
    void leaveRequested(bool tellFailures);
    // Window k >= 2: its close button closed it; it is hidden, its owner ends it.
    void closed();
    // Ctrl+N saved `view` as slot `slot` here: the other windows learn it.
    void namedViewSaved(int slot, const NamedView& view);

  public slots:
    // Leaving by the window manager's close button or Escape asks the same
    // question as the exit buttons instead of ending without it.
    void reject() override;

  protected:
    // A tap on the window itself leaves full screen.
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    // Focus out and deactivation end a held camera key at once.
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // Start-up steps.
    void LoadCurrentServerFields();
    void RequestNetwork();
    void PlaceOnScreen();
    void CreateControls();
    CSkinButton* AddButton(int id, int bitmapId, const QRect& rect);
    // Places every control for the current client size (the video alone
    // covers the window in full screen; parked channel buttons stay parked).
    void ApplyLayout();
    // The buttons' tooltips: the command's text and its key (COrvaneDlgKeys.cpp).
    void SetToolTips();

    // Commands of the main window itself.
    void OnExit();
    void OnSwitch();

    // Session commands (bodies in their own source files).
    void OnPlay();
    void OnCapture();
    void OnFullScreen();
    void OnSet();
    void OnPtz(int id);
    void OnChannel(int id);

    // The camera wall (COrvaneDlgWall.cpp).
    void ConnectWallSignals();  // after the controls exist
    // Stops the single view and shows the wall's widget (without tiles).
    void OpenWall();
    // Into the wall: a page of the main window's server in `layout`, with
    // the current channel's tile selected when it is on that page.
    void EnterWallView(WallLayout layout);
    // Back to the single view, watching `source` (empty: the main window's
    // current channel); another server becomes the main window's.
    void LeaveWallView(const TileSource& source);
    // Ends the wall's sessions and shows the single view, watching nothing.
    void CloseWallView();
    // Shows the page of `source`'s server from channel `first`, watching it,
    // with the tile at `selected` selected (-1: the place selected before).
    void ShowWallPage(const TileSource& source, int first, int selected = -1);
    // PgDn (+1) and PgUp (-1) in the wall: the next or previous page.
    void TurnWallPage(int direction);
    CameraWall::Setup WallSetup() const;
    // The main window's server and dialect, at channel `channel`.
    TileSource MainSource(int channel = 0) const;
    bool IsMainServer(const ServerSettings& server) const;
    void OnTileTapped(int index);
    void OnTileDoubleTapped(int index);
    // The Layout submenu, and in the wall the entries of tile `index`
    // (COrvaneDlgWallMenu.cpp).
    void AddWallMenuEntries(QMenu* menu, int index);
    // Saved views and the tour (COrvaneDlgViews.cpp).
    void SetUpViews();  // after the controls exist
    void RestoreStartView(const CommandLine& options, bool restoreStored);
    void SaveCurrentViewIfChanged();
    void OnTourState(WallTour::State state);
    void AddViewMenuEntries(QMenu* menu);
    bool eventFilter(QObject* watched, QEvent* event) override;

    // The session's side (COrvaneDlgSession.cpp).
    void ConnectSessionSignals();  // after the controls exist
    // m_session's signals to this window, and the video window to it.
    void ConnectSingleSession();
    // The single view's session becomes `session` (whose camera the view
    // shows from now on); the one it had is given back, cut off from the
    // window and its video.
    std::unique_ptr<ViewingSession> ReplaceSingleSession(std::unique_ptr<ViewingSession> session);
    // The single view's camera leaves the screen: a recording one goes on
    // off screen, and the view gets a session of its own like it (idle);
    // otherwise the session stops.
    void ParkSingleSession();
    void ShowText(const QString& text);
    void PutStatusText(const QString& text);  // even while a tour runs
    void SetPlayFace(bool active);
    // The single view's line while nothing plays: Play and the server and
    // channel it would show, or how to name a server when none is set.
    void UpdateIdleLine();
    // Greys the camera buttons while the session they act on cannot steer
    // (an RTSP stream), and the channel buttons while this window's camera
    // has no channels (a URL).
    void UpdateSteering();
    // F1..F9: the selected camera goes to its preset; with Shift it stores
    // its position there. Only for a camera with presets (ONVIF PTZ).
    void OnPresetKey(int index, bool store);
    // The right-click menu's presets of the selected camera, when it has PTZ.
    void AddPresetMenuEntries(QMenu* menu);
    // Hides the buttons of the channels the server lacks; never shows one.
    void OnChannelCount(int count);

    // Full screen and aspect (COrvaneDlgView.cpp).
    void OnVideoTapped();
    void OnVideoDoubleTapped();
    void SetFullScreenView(bool on);
    void ToggleKeepAspect();

    // Recording (COrvaneDlgRecord.cpp): R records the active session, Shift+R
    // (`everyTile`) every tile shown; the badges show who records.
    void ConnectRecordSignals();  // after the controls exist
    void OnRecordKey(bool everyTile);
    void UpdateRecordBadges();
    void AddRecordMenuEntries(QMenu* menu);
    void UpdateOffScreenMark();
    void PlaceOffScreenMark();

    // The PTZ command of button `id` held while its key (or, `byMouse`, the
    // button itself) is down.
    void OnPtzDown(int id, bool byMouse);
    void OnChannelKey(int index);
    // Ends a held camera key now: the stop goes to the session (and channel)
    // that took the press, whatever is selected now. Every command, view,
    // selection and page change and every loss of focus runs it first.
    void ReleaseHeldPtz();
    // A camera button released (or left) with the mouse.
    void OnPtzButtonUp(int id);

    // Channel pages (COrvaneDlgPages.cpp). Shows the page whose first index
    // is `first` (its buttons of the channels the server has) and hides the
    // other pages.
    void ShowChannelPage(int first);
    // Shows the first page's four buttons and hides the other pages.
    void ShowFirstChannelPage();
    void OnPreviousPage();

    SettingsLabels& m_settingsLabels;  // the application's
    int m_windowNumber = 1;            // 1: the main window
    QPointer<QScreen> m_startMonitor;  // where Initialise places the window; null: as kept
    QIcon m_icon;
    bool m_initialised = false;

    // Session fields.
    int m_channelCount = control::kChannelButtons;  // the server's, 32 until it says
    int m_settingsChannel = 0;  // handed to and taken from the settings dialog; -1: none
    // The viewing session: the connection, its timers and reconnection. Made
    // with the window; ended first when it goes.
    std::unique_ptr<ViewingSession> m_session;

    // Full screen.
    bool m_fullScreen = false;
    std::array<QRect, control::kChannelButtons> m_savedChannelRects{};  // taken on entering
    QRect m_savedGeometry;          // the window's, taken on entering
    bool m_savedMaximised = false;  // taken on entering
    // Since a tap left full screen: a double-click whose first press that
    // was must not enter it again.
    QElapsedTimer m_tapLeftFullScreen;
    bool m_fullScreenOnFirstPicture = false;  // --fullscreen, until the first picture
    bool m_kiosk = false;                     // --kiosk: full screen is never left
    PointerHider* m_pointerHider = nullptr;   // child; active while full screen

    // The window's place and size and the aspect choice, kept in the settings store.
    ViewPreferences m_preferences;
    int m_page = 0;              // first index of the channel page shown
    int m_heldPtz = 0;           // the PTZ button whose key (or mouse button) is down; 0: none
    bool m_heldByMouse = false;  // m_heldPtz was pressed with the mouse
    // The session that took the held key's press; null when none, or when it
    // has gone (it stopped the camera itself as it went).
    QPointer<ViewingSession> m_heldSession;
    // Runs while a held key's release waits to see whether a press follows.
    QTimer m_releaseGrace;

    // Controls (children of this window; nullptr when not created).
    CSkinStatic* m_titleLabel = nullptr;
    CSkinButton* m_titleExit = nullptr;
    std::array<CSkinButton*, 6> m_commandButtons{};                         // ids 203 to 208
    std::array<CSkinButton*, 10> m_ptzButtons{};                            // ids 209 to 218
    std::array<CSkinButton*, control::kChannelButtons> m_channelButtons{};  // channel 1 to 32
    CSkinStatic* m_statusLine = nullptr;
    CVideoAtom* m_videoWindow = nullptr;
    QRect m_videoWindowRect;
    CameraWall* m_wall = nullptr;  // over the video window's place while m_wallOn
    bool m_wallOn = false;
    WallLayout m_wallLayout = WallLayout::Grid2;  // the one G returns to
    // A wall that was not a page of the main window's server, to return to.
    std::optional<WallView> m_lastWall;
    bool m_statisticsOn = false;  // the statistics panels (I)
    // Saved views: the store's nine slots as last loaded or saved, the view
    // last handed to the writer, and the writer itself (shared with the other
    // main windows). The writer is declared last of these so that, when this
    // window holds it alone, it is joined first.
    std::array<std::optional<NamedView>, kNamedViews> m_namedViews;
    std::optional<WallView> m_storedView;
    WallTour* m_tour = nullptr;         // child
    bool m_tourOnStored = false;        // what the store says of a running tour
    QTimer* m_viewSaveTimer = nullptr;  // child
    std::shared_ptr<SettingsWriter> m_settingsWriter;
    WindowPlace m_storedPlace;       // what the store says of this window's place
    QTimer* m_recordTick = nullptr;  // child: refreshes the recording badges while any records
    OffScreenRecordings* m_offScreen = nullptr;  // child; emptied by the destructor
    QLabel* m_offScreenMark = nullptr;           // child
};

}  // namespace kavrel
