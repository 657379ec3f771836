#include "app/COrvaneDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPixmap>
#include <QResizeEvent>
#include <QScreen>

#include "app/CameraWall.h"
#include "app/NetworkBringUp.h"
#include "app/OffScreenRecordings.h"
#include "app/PointerHider.h"
#include "platform/DebugSink.h"
#include "skin/BitmapIds.h"
#include "skin/CSkinButton.h"
#include "skin/CSkinStatic.h"
#include "skin/MainLayout.h"
#include "skin/MessageBox.h"
#include "skin/SkinBitmap.h"
#include "video/CVideoAtom.h"

namespace kavrel {
namespace {

// The one fixed user-visible text of the program.
constexpr const char* kNetworkFailedText = "Create network connect failed";

}  // namespace

COrvaneDlg::COrvaneDlg(SettingsLabels& settingsLabels, QWidget* parent)
    : CSkinDialog(parent),
      m_settingsLabels(settingsLabels),
      m_session(std::make_unique<ViewingSession>()) {
    setWindowTitle(QString::fromLatin1(kCaption));
    m_icon = QIcon(QPixmap::fromImage(LoadSkinBitmap(bitmap::kAppIcon)));
    // The skin paints every control; black shows wherever none lies.
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    m_pointerHider = new PointerHider(this);
    m_releaseGrace.setSingleShot(true);
    connect(&m_releaseGrace, &QTimer::timeout, this, &COrvaneDlg::ReleaseHeldPtz);
    // Another application in front: the held key's release never comes here.
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state != Qt::ApplicationActive)
                    ReleaseHeldPtz();
            });
}

COrvaneDlg::~COrvaneDlg() {
    // The view shown, for the next start; the writer is joined with the
    // members, after the sessions ended.
    if (m_initialised)
        SaveCurrentViewIfChanged();
    // The connection first (its receive thread feeds the video window), then
    // the decode thread, before any control goes; the tiles' sessions too.
    if (m_wall) {
        m_wall->Clear();
        m_wall->SetOffScreen(nullptr);
    }
    if (m_offScreen)
        m_offScreen->Clear();
    m_session.reset();
    if (m_videoWindow)
        m_videoWindow->StopDecoding();
}

void COrvaneDlg::Initialise() {
    if (m_initialised)
        return;
    m_initialised = true;
    DetectLanguage();
    m_settingsLabels = LoadSettingsLabels(languageIndex());
    LoadCurrentServerFields();
    setWindowIcon(m_icon);
    RequestNetwork();
    PlaceOnScreen();
    CreateControls();
    SetUpViews();
}

int COrvaneDlg::exec() {
    Initialise();
    return CSkinDialog::exec();
}

void COrvaneDlg::LoadCurrentServerFields() {
    const ServerSettings server = LoadCurrentServer();
    m_session->SetServer(server);
    m_session->SetCurrentChannel(server.channel);
}

ServerSettings COrvaneDlg::CurrentServer() const {
    return m_session->Server();
}

void COrvaneDlg::RequestNetwork() {
    if (!kavrel::BringUpNetwork()) {
        ShowMessageBox(this, QString::fromLatin1(kCaption), QString::fromLatin1(kNetworkFailedText),
                       QMessageBox::Ok, QMessageBox::NoIcon);
    }
}

void COrvaneDlg::PlaceOnScreen() {
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    m_preferences = LoadViewPreferences();

    // Where the user left it, unless no monitor shows that place any more
    // (or it is not on the monitor asked for). The place is the main
    // window's: the others open at the program's size on their monitor.
    const QRect kept = m_windowNumber == 1 ? m_preferences.windowGeometry : QRect();
    if (kept.isValid()) {
        for (const QScreen* monitor : QGuiApplication::screens()) {
            if (m_startMonitor && monitor != m_startMonitor)
                continue;
            if (monitor->availableGeometry().intersects(kept)) {
                setGeometry(kept);
                if (m_preferences.maximised)
                    setWindowState(windowState() | Qt::WindowMaximized);
                return;
            }
        }
    }

    // The window starts as the program's screen: 480 x 640, or the whole
    // available area when the desktop is itself portrait (a handheld running
    // Linux).
    const QScreen* screen =
        m_startMonitor ? m_startMonitor.data() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    if (available.height() > available.width()) {
        setGeometry(available);
        return;
    }
    resize(kept.isValid() ? kept.size() : QSize(kScreenWidth, kScreenHeight));
    if (available.isValid()) {
        QRect placed(QPoint(), size());
        placed.moveCenter(available.center());
        move(qMax(placed.left(), available.left()), qMax(placed.top(), available.top()));
    }
}

CSkinButton* COrvaneDlg::AddButton(int id, int bitmapId, const QRect& rect) {
    auto* button = new CSkinButton(bitmapId, kTextBottomCentre, this);
    button->setObjectName(QString::number(id));
    // The window takes every key (Space is Play, not "press the focused button").
    button->setFocusPolicy(Qt::NoFocus);
    button->setGeometry(rect);
    if (id >= control::kFirstPtz && id <= control::kLastPtz) {
        // A camera button moves the camera while it is held down; leaving it
        // with the pointer releases it.
        connect(button, &QPushButton::pressed, this, [this, id] { OnPtzDown(id, true); });
        connect(button, &QPushButton::released, this, [this, id] { OnPtzButtonUp(id); });
        return button;
    }
    connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
    return button;
}

void COrvaneDlg::CreateControls() {
    const MainLayout layout = ComputeWindowLayout(width(), height());

    m_titleLabel = new CSkinStatic(bitmap::kTitleBackground, this);
    m_titleLabel->setObjectName(QString::number(control::kTitleLabel));
    m_titleLabel->setGeometry(layout.titleLabel.ToQRect());
    m_titleLabel->setText(QString::fromLatin1(kTitleText));

    m_titleExit = AddButton(control::kTitleExit, bitmap::kTitleExit, layout.titleExit.ToQRect());

    constexpr std::array<int, 6> kCommandBitmaps = {bitmap::kPlay,       bitmap::kCapture,
                                                    bitmap::kFullScreen, bitmap::kSwitch,
                                                    bitmap::kSet,        bitmap::kExit};
    for (size_t k = 0; k < m_commandButtons.size(); ++k) {
        m_commandButtons[k] =
            AddButton(control::kCommandIds[k], kCommandBitmaps[k], layout.commands[k].ToQRect());
    }

    // Camera buttons column by column, upper row first.
    struct PtzButton {
        int id;
        int bitmapId;
    };
    constexpr std::array<PtzButton, 10> kPtzOrder = {{
        {control::kPtzUp, bitmap::kUp},
        {control::kPtzDown, bitmap::kDown},
        {control::kPtzLeft, bitmap::kLeft},
        {control::kPtzRight, bitmap::kRight},
        {control::kPtzZoomIn, bitmap::kZoomIn},
        {control::kPtzZoomOut, bitmap::kZoomOut},
        {control::kPtzFocusAdd, bitmap::kFocusAdd},
        {control::kPtzFocusSub, bitmap::kFocusSub},
        {control::kPtzIrisAdd, bitmap::kIrisAdd},
        {control::kPtzIrisSub, bitmap::kIrisSub},
    }};
    for (const PtzButton& ptz : kPtzOrder) {
        m_ptzButtons[size_t(ptz.id - control::kFirstPtz)] =
            AddButton(ptz.id, ptz.bitmapId, layout.ButtonById(ptz.id).ToQRect());
    }

    // Channel buttons page by page, in the order n, n+2, n+1, n+3; only the
    // first page shows.
    for (int first = 0; first < control::kChannelButtons; first += control::kChannelsPerPage) {
        for (int offset : {0, 2, 1, 3}) {
            const int index = first + offset;
            const int channel = index + 1;
            CSkinButton* button =
                AddButton(control::kFirstChannel + index, bitmap::ChannelBitmapId(channel),
                          layout.ChannelButton(index).ToQRect());
            if (index >= control::kChannelsPerPage)
                button->hide();
            m_channelButtons[size_t(index)] = button;
        }
    }

    m_statusLine = new CSkinStatic(bitmap::kTitleBackground, this);
    m_statusLine->setObjectName(QString::number(control::kStatusLine));
    m_statusLine->setGeometry(layout.statusLine.ToQRect());

    m_videoWindow = new CVideoAtom(this);
    m_videoWindow->setGeometry(layout.video.ToQRect());
    m_videoWindowRect = m_videoWindow->geometry();
    m_videoWindow->SetKeepAspect(m_preferences.keepAspect);
    m_videoWindow->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_videoWindow, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = MakeVideoMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_videoWindow->mapToGlobal(at));
    });
    m_wall = new CameraWall(this);
    m_wall->setGeometry(m_videoWindowRect);
    m_offScreen = new OffScreenRecordings(this);
    m_wall->SetOffScreen(m_offScreen);
    SetToolTips();
    ConnectSessionSignals();
    ConnectWallSignals();
    ConnectRecordSignals();
    UpdateIdleLine();
}

void COrvaneDlg::ApplyLayout() {
    if (!m_videoWindow)
        return;
    if (m_fullScreen) {
        m_videoWindow->setGeometry(rect());
        m_wall->setGeometry(rect());
        PlaceOffScreenMark();
        return;
    }
    const MainLayout layout = ComputeWindowLayout(width(), height());
    m_titleLabel->setGeometry(layout.titleLabel.ToQRect());
    for (int id = control::kTitleExit; id <= control::kLastPtz; ++id) {
        if (CSkinButton* button = Button(id))
            button->setGeometry(layout.ButtonById(id).ToQRect());
    }
    for (int index = 0; index < control::kChannelButtons; ++index)
        m_channelButtons[size_t(index)]->setGeometry(layout.ChannelButton(index).ToQRect());
    m_statusLine->setGeometry(layout.statusLine.ToQRect());
    m_videoWindow->setGeometry(layout.video.ToQRect());
    m_videoWindowRect = m_videoWindow->geometry();
    m_wall->setGeometry(m_videoWindowRect);
    PlaceOffScreenMark();
    UpdateIdleLine();  // the status font grows with the window
    update();
}

void COrvaneDlg::resizeEvent(QResizeEvent* event) {
    CSkinDialog::resizeEvent(event);
    ApplyLayout();
}

void COrvaneDlg::ApplyStartOptions(const CommandLine& options, bool restoreStored) {
    if (options.channel) {
        const int channel = *options.channel;
        m_session->SetCurrentChannel(channel);
        ShowChannelPage(channel / control::kChannelsPerPage * control::kChannelsPerPage);
        UpdateIdleLine();
    }
    // URLs play by themselves.
    if (options.play && options.urls.empty()) {
        QMetaObject::invokeMethod(
            this, [this] { OnCommand(control::kPlay); }, Qt::QueuedConnection);
    }
    m_fullScreenOnFirstPicture = options.fullScreen;
    RestoreStartView(options, restoreStored);
    if (options.kiosk) {
        m_kiosk = true;
        // Without waiting for a picture: the black window (and its idle line)
        // is what a monitor shows until the camera answers. Once the event
        // loop runs, so that full screen finds the window shown.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!m_fullScreen)
                    SetFullScreenView(true);
            },
            Qt::QueuedConnection);
    }
}

void COrvaneDlg::ApplyForwardedOptions(const CommandLine& options) {
    ReleaseHeldPtz();
    if (!options.urls.empty()) {
        // The cameras named play here, as they would in a new start.
        WallView view = UrlWallView(options.urls);
        view.fullScreen = m_fullScreen || (options.fullScreen && view.layout != WallLayout::Single);
        ShowWallView(view);
    } else if (options.view) {
        RecallView(*options.view);
    } else if (options.channel)
        OnCommand(control::kFirstChannel + *options.channel);
    const bool playing = m_wallOn ? m_wall->AnyWatching() : m_session->Watching();
    if (options.play && !playing)
        OnCommand(control::kPlay);
    if (options.kiosk) {
        m_kiosk = true;
        if (!m_fullScreen)
            SetFullScreenView(true);
    } else if (options.fullScreen && !m_fullScreen) {
        const bool videoReceived =
            m_wallOn ? m_wall->AnyVideoReceived() : m_session->VideoReceived();
        if (videoReceived)
            SetFullScreenView(true);
        else
            m_fullScreenOnFirstPicture = true;
    }
}

WindowPlace COrvaneDlg::CurrentPlace() const {
    WindowPlace place;
    if (const QScreen* monitor = screen())
        place.monitor = monitor->name().toStdU16String();
    place.fullScreen = m_fullScreen;
    return place;
}

CSkinButton* COrvaneDlg::Button(int id) const {
    if (id == control::kTitleExit)
        return m_titleExit;
    if (id >= control::kPlay && id <= control::kExit) {
        return m_commandButtons[size_t(id - control::kPlay)];
    }
    if (id >= control::kFirstPtz && id <= control::kLastPtz) {
        return m_ptzButtons[size_t(id - control::kFirstPtz)];
    }
    if (id >= control::kFirstChannel && id <= control::kLastChannel) {
        return m_channelButtons[size_t(id - control::kFirstChannel)];
    }
    return nullptr;
}

CSkinButton* COrvaneDlg::ChannelButton(int index) const {
    if (index < 0 || index >= control::kChannelButtons)
        return nullptr;
    return m_channelButtons[size_t(index)];
}

void COrvaneDlg::OnCommand(int id) {
    // Every command (a click, a key, a menu entry) ends a held camera key
    // first, so that no camera keeps turning while the view moves on.
    ReleaseHeldPtz();
    if (id == control::kTitleExit || id == control::kExit) {
        OnExit();
    } else if (id == control::kPlay) {
        OnPlay();
    } else if (id == control::kCapture) {
        OnCapture();
    } else if (id == control::kFullScreen) {
        OnFullScreen();
    } else if (id == control::kSwitch) {
        OnSwitch();
    } else if (id == control::kSet) {
        OnSet();
    } else if (id >= control::kFirstPtz && id <= control::kLastPtz) {
        OnPtz(id);
    } else if (id >= control::kFirstChannel && id <= control::kLastChannel) {
        OnChannel(id);
    }
}

void COrvaneDlg::OnExit() {
    const QMessageBox::StandardButton answer =
        ShowMessageBox(this, LoadText(u"leave_alert"), LoadText(u"leave_text"),
                       QMessageBox::Yes | QMessageBox::No, QMessageBox::Information);
    if (answer != QMessageBox::Yes)
        return;
    Leave(true);
}

void COrvaneDlg::EndWithoutAsking() {
    // A box or dialog open over the window would keep its own modal run
    // going; each goes as its Cancel or No would take it.
    for (int open = 0; open < 8; ++open) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == this)
            break;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }
    Leave(false);
}

void COrvaneDlg::Leave(bool tellFailures) {
    if (m_windowNumber != 1) {
        // The program ends as from the main window: its server and place.
        emit leaveRequested(tellFailures);
        return;
    }
    const bool serverSaved = SaveCurrentServer(CurrentServer());
    // The window as the user sees it outside full screen.
    m_preferences.maximised = m_fullScreen ? m_savedMaximised : isMaximized();
    if (!m_preferences.maximised)
        m_preferences.windowGeometry = m_fullScreen ? m_savedGeometry : geometry();
    const bool viewSaved = SaveViewPreferences(m_preferences);
    // The user asked to leave: say what is lost, then leave all the same.
    if (tellFailures && (!serverSaved || !viewSaved)) {
        ShowMessageBox(this, LoadText(u"leave_alert"), LoadText(u"save_failed"), QMessageBox::Ok,
                       QMessageBox::Warning);
    }
    done(QDialog::Accepted);
}

void COrvaneDlg::reject() {
    OnExit();
}

void COrvaneDlg::closeEvent(QCloseEvent* event) {
    if (m_windowNumber == 1) {
        CSkinDialog::closeEvent(event);
        return;
    }
    // A window beside the main one closes alone, without the question: the
    // program and its other windows go on.
    event->accept();
    DebugOutput("Window " + std::to_string(m_windowNumber) + " closed\n");
    emit closed();
}

}  // namespace kavrel
