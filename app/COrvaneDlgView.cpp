// Capture and full screen: the snapshot command with its honest status text,
// the full-screen view with its saved rectangles, the picture's aspect and
// the video window's right-click menu, and the statistics panels.
// User-interface thread.

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>

#include "app/COrvaneDlg.h"
#include "app/CameraWall.h"
#include "app/PointerHider.h"
#include "app/ViewingSession.h"
#include "platform/DebugSink.h"
#include "skin/CSkinButton.h"
#include "skin/CSkinStatic.h"
#include "video/CVideoAtom.h"

namespace kavrel {
namespace {

// Where channel buttons wait while full screen shows: out of sight, with no
// size, but with their visibility (the channel page) untouched.
constexpr QPoint kParkedPosition{1000, 1000};

}  // namespace

void COrvaneDlg::OnCapture() {
    DebugOutput("Capture\n");
    ActiveSession().Capture();
}

CVideoAtom* COrvaneDlg::ActiveVideo() const {
    if (m_wallOn && m_wall && m_wall->HasTiles())
        return m_wall->Tile(m_wall->Selected());
    return m_videoWindow;
}

void COrvaneDlg::ResetZoom() {
    if (CVideoAtom* video = ActiveVideo())
        video->ResetZoom();
}

void COrvaneDlg::CaptureView() {
    DebugOutput("Capture view\n");
    ActiveSession().Capture(SnapshotKind::kView);
}

void COrvaneDlg::OnFullScreen() {
    DebugOutput("Fullscreen\n");
    ReleaseHeldPtz();
    // Entering needs a picture; leaving never does, so a connection that
    // drops in full screen cannot keep the user from the buttons.
    const bool videoReceived = m_wallOn ? m_wall->AnyVideoReceived() : m_session->VideoReceived();
    if (!m_fullScreen && !videoReceived)
        return;
    SetFullScreenView(!m_fullScreen);
}

void COrvaneDlg::OnVideoTapped() {
    if (!m_fullScreen)
        return;
    OnFullScreen();
    if (!m_fullScreen)
        m_tapLeftFullScreen.start();
}

void COrvaneDlg::OnVideoDoubleTapped() {
    // A double-click in full screen: its first press has already left it,
    // and it must not enter again.
    if (m_tapLeftFullScreen.isValid() &&
        m_tapLeftFullScreen.elapsed() <= QApplication::doubleClickInterval()) {
        m_tapLeftFullScreen.invalidate();
        return;
    }
    OnFullScreen();
}

void COrvaneDlg::ToggleKeepAspect() {
    m_preferences.keepAspect = !m_preferences.keepAspect;
    if (m_videoWindow)
        m_videoWindow->SetKeepAspect(m_preferences.keepAspect);
    if (m_wall)
        m_wall->SetKeepAspect(m_preferences.keepAspect);
}

void COrvaneDlg::ToggleStatistics() {
    m_statisticsOn = !m_statisticsOn;
    if (m_videoWindow)
        m_videoWindow->SetStatisticsShown(m_statisticsOn);
    if (m_wall)
        m_wall->SetStatisticsShown(m_statisticsOn);
}

QMenu* COrvaneDlg::MakeVideoMenu(int tile) {
    ReleaseHeldPtz();
    auto* menu = new QMenu(this);
    // Each entry shows its key after a tab, as menus do.
    auto add = [&](const char16_t* key, const char* shortcut, auto command) {
        QString text = LoadText(key);
        if (*shortcut != '\0')
            text += QLatin1Char('\t') + QString::fromLatin1(shortcut);
        QAction* action = menu->addAction(text);
        connect(action, &QAction::triggered, this, command);
        return action;
    };
    add(u"cmd_play", "Space", [this] { OnCommand(control::kPlay); });
    add(u"cmd_capture", "S", [this] { OnCommand(control::kCapture); });
    add(u"cmd_capture_view", "", [this] { CaptureView(); });
    const CVideoAtom* video = ActiveVideo();
    add(u"cmd_reset_zoom", "Z", [this] {
        ResetZoom();
    })->setEnabled(video != nullptr && video->Zoom().IsZoomed());
    QAction* full = add(u"cmd_fullscreen", "F", [this] { OnCommand(control::kFullScreen); });
    full->setCheckable(true);
    full->setChecked(m_fullScreen);
    QAction* aspect = add(u"cmd_keep_aspect", "A", [this] { ToggleKeepAspect(); });
    aspect->setCheckable(true);
    aspect->setChecked(m_preferences.keepAspect);
    QAction* wall = add(u"cmd_quad_view", "G", [this] { ToggleWallView(); });
    wall->setCheckable(true);
    wall->setChecked(m_wallOn);
    AddWallMenuEntries(menu, tile < 0 && m_wallOn ? m_wall->Selected() : tile);
    QAction* statistics = add(u"cmd_statistics", "I", [this] { ToggleStatistics(); });
    statistics->setCheckable(true);
    statistics->setChecked(m_statisticsOn);
    AddPresetMenuEntries(menu);
    AddViewMenuEntries(menu);
    AddRecordMenuEntries(menu);
    menu->addSeparator();
    add(u"cmd_set", "Ctrl+,", [this] { OnCommand(control::kSet); });
    return menu;
}

void COrvaneDlg::AddPresetMenuEntries(QMenu* menu) {
    ViewingSession& session = ActiveSession();
    if (!session.HasPresets())
        return;
    QMenu* presets = menu->addMenu(LoadText(u"menu_presets"));
    const std::vector<std::u16string> names = session.PresetNames();
    // The menu may outlive the tile's session (a page turn behind it).
    const QPointer<ViewingSession> target(&session);
    for (size_t index = 0; index < names.size(); ++index) {
        QString text = QString::fromStdU16String(names[index]);
        if (index < 9)
            text += QStringLiteral("\tF%1").arg(index + 1);
        connect(presets->addAction(text), &QAction::triggered, this, [target, index] {
            if (target)
                target->GotoPreset(int(index));
        });
    }
    presets->addSeparator();
    const int next = int(names.size());
    connect(presets->addAction(LoadText(u"menu_preset_store")), &QAction::triggered, this,
            [target, next] {
                if (target)
                    target->StorePreset(next);
            });
}

void COrvaneDlg::mousePressEvent(QMouseEvent* event) {
    if (m_fullScreen) {
        event->accept();
        OnFullScreen();
        return;
    }
    CSkinDialog::mousePressEvent(event);
}

void COrvaneDlg::SetFullScreenView(bool on) {
    if (!m_videoWindow)
        return;
    // A kiosk's full screen stays whatever is clicked, pressed or recalled.
    if (m_kiosk && !on && m_fullScreen)
        return;
    // The title, both exit buttons, the command and camera buttons and the
    // status line; the channel buttons are parked instead (their visibility is
    // the channel page).
    const bool showControls = !on;
    if (m_titleLabel)
        m_titleLabel->setVisible(showControls);
    for (int id = control::kTitleExit; id <= control::kLastPtz; ++id) {
        if (CSkinButton* button = Button(id))
            button->setVisible(showControls);
    }
    if (m_statusLine) {
        m_statusLine->setVisible(showControls);
        m_statusLine->update();
    }

    // The monitor the window is on; the picture turns only on a monitor
    // taller than wide, as the handheld's screen was.
    const QScreen* monitor = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect whole = monitor ? monitor->geometry() : geometry();
    if (on) {
        for (size_t index = 0; index < m_channelButtons.size(); ++index) {
            CSkinButton* button = m_channelButtons[index];
            m_savedChannelRects[index] = button ? button->geometry() : QRect();
            if (button)
                button->setGeometry(QRect(kParkedPosition, QSize(0, 0)));
        }
        m_savedGeometry = geometry();
        m_savedMaximised = isMaximized();
        m_fullScreen = true;
        // Without a window manager (a kiosk session) the full-screen state
        // alone moves nothing: the geometry makes the window cover the monitor.
        showFullScreen();
        setGeometry(whole);
    } else {
        for (size_t index = 0; index < m_channelButtons.size(); ++index) {
            if (CSkinButton* button = m_channelButtons[index])
                button->setGeometry(m_savedChannelRects[index]);
        }
        m_fullScreen = false;
        if (m_savedMaximised) {
            showMaximized();
        } else {
            showNormal();
            setGeometry(m_savedGeometry);
        }
    }
    // The resize that follows lays out again; this covers a window whose size
    // did not change (or changes later, under a window manager).
    ApplyLayout();
    m_videoWindow->SetFullScreen(on, whole.height() > whole.width());
    m_wall->SetFullScreen(on);
    m_pointerHider->SetActive(on);
    update();
}

void COrvaneDlg::SetPointerIdleTime(std::chrono::milliseconds time) {
    m_pointerHider->SetIdleTime(time);
}

}  // namespace kavrel
