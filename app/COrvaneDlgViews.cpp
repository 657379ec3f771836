// Saved views and the tour: the main window's side. The view shown goes to
// the settings store by the writer thread whenever it changes, so that a
// wall comes back as it was after a restart or a power cut; nine views can
// be saved and recalled by key; the tour walks through them.
// User-interface thread only (the writer thread only runs the jobs handed
// to it, with copies of the views).

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>

#include "app/COrvaneDlg.h"
#include "platform/DebugSink.h"

namespace kavrel {

void COrvaneDlg::SetUpViews() {
    if (!m_settingsWriter)
        m_settingsWriter = std::make_shared<SettingsWriter>();
    // Read once at start: recalling a view never waits for the disk.
    m_namedViews = LoadNamedViews();
    m_storedView = LoadCurrentWallView(m_windowNumber);
    m_storedPlace = LoadWindowPlace(m_windowNumber).value_or(WindowPlace{});

    m_tour = new WallTour(this);
    m_tour->SetInterval(std::chrono::seconds(LoadTourSeconds()));
    std::vector<int> filled;
    for (int slot = 1; slot <= kNamedViews; ++slot) {
        if (m_namedViews[size_t(slot - 1)])
            filled.push_back(slot);
    }
    m_tour->SetViews(filled);
    m_tourOnStored = LoadTourOn(m_windowNumber);
    connect(m_tour, &WallTour::showView, this, [this](int slot) { RecallView(slot); });
    connect(m_tour, &WallTour::nextPage, this, [this] {
        if (m_wallOn)
            TurnWallPage(+1);
        else
            ToggleWallView();
    });
    connect(m_tour, &WallTour::stateChanged, this, &COrvaneDlg::OnTourState);

    m_viewSaveTimer = new QTimer(this);
    m_viewSaveTimer->setInterval(kViewSaveCheck);
    connect(m_viewSaveTimer, &QTimer::timeout, this, &COrvaneDlg::SaveCurrentViewIfChanged);
    m_viewSaveTimer->start();
}

void COrvaneDlg::RestoreStartView(const CommandLine& options, bool restoreStored) {
    std::optional<WallView> view;
    if (!options.urls.empty()) {
        // Played at once, as named. A wall has no single picture to wait
        // for: --fullscreen takes it full screen at once.
        view = UrlWallView(options.urls);
        view->fullScreen = options.fullScreen && view->layout != WallLayout::Single;
    } else if (options.view) {
        const std::optional<NamedView>& named = m_namedViews[size_t(*options.view - 1)];
        if (named)
            view = named->view;
        else
            DebugOutput("No view saved as " + std::to_string(*options.view) + "\n");
    } else if (!options.channel && restoreStored) {
        // A wall comes back by itself; the single view starts as it always
        // did (Play, or --play, starts it).
        view = LoadCurrentWallView(m_windowNumber);
        if (view && view->layout == WallLayout::Single)
            view.reset();
    }
    // A tour that ran when the program was left runs on (a wall left alone
    // on a monitor), unless a view was asked for.
    const bool tour = m_tourOnStored && restoreStored && !options.view && !options.channel &&
                      options.urls.empty();
    if (!restoreStored) {
        // A window opened anew, maybe under the number of one closed earlier
        // whose last writes are still queued before these: nothing that one
        // kept is this one's, neither its wall nor its tour nor its place.
        const WallView none{WallLayout::Single, {}, false};
        m_storedView = none;
        m_storedPlace = {};
        m_tourOnStored = false;
        m_settingsWriter->Post([none, window = m_windowNumber] {
            return SaveCurrentWallView(none, window) && SaveTourOn(false, window);
        });
    }
    if (!view && !tour)
        return;
    // Once the event loop runs, so that full screen finds the window shown.
    QMetaObject::invokeMethod(
        this,
        [this, view, tour] {
            if (view)
                ShowWallView(*view);
            if (tour && !m_tour->Running())
                m_tour->Start();
        },
        Qt::QueuedConnection);
}

void COrvaneDlg::SaveCurrentViewIfChanged() {
    if (!m_settingsWriter)
        return;
    // A tour's steps are not the user's changes: writing each one would wear
    // out the SD card of a wall left touring for weeks. That it runs is
    // saved once (OnTourState); the view is saved again once it stops.
    if (m_tour && m_tour->CurrentState() != WallTour::State::Stopped)
        return;
    // The monitor and full screen, so that the window comes back there.
    if (WindowPlace place = CurrentPlace(); place != m_storedPlace) {
        m_storedPlace = place;
        m_settingsWriter->Post([place = std::move(place), window = m_windowNumber] {
            return SaveWindowPlace(window, place);
        });
    }
    WallView view = CurrentWallView();
    if (m_storedView && *m_storedView == view)
        return;
    // Only a wall comes back at start, so a single view is written only to
    // replace a stored wall. Fewer writes also mean fewer times the settings
    // file is locked while the user-interface thread reads it (a menu, R):
    // a write's sync can take long on a busy disk, and a reader waits for it.
    const auto isWall = [](const std::optional<WallView>& shown) {
        return shown && shown->layout != WallLayout::Single;
    };
    if (!isWall(view) && !isWall(m_storedView))
        return;
    m_storedView = view;
    m_settingsWriter->Post([view = std::move(view), window = m_windowNumber] {
        return SaveCurrentWallView(view, window);
    });
}

void COrvaneDlg::SaveView(int slot) {
    if (slot < 1 || slot > kNamedViews || !m_settingsWriter)
        return;
    ReleaseHeldPtz();
    NamedView named;
    named.view = CurrentWallView();
    TakeNamedView(slot, named);
    m_settingsWriter->Post([slot, named] { return SaveNamedView(slot, named); }, this,
                           [this](bool written) {
                               if (!written)
                                   ShowText(LoadText(u"save_failed"));
                           });
    m_tour->SetCurrentView(slot);
    ShowText(FillNumber(LoadText(u"view_saved"), slot));
    emit namedViewSaved(slot, named);
}

void COrvaneDlg::TakeNamedView(int slot, const NamedView& view) {
    if (slot < 1 || slot > kNamedViews || !m_tour)
        return;
    m_namedViews[size_t(slot - 1)] = view;
    std::vector<int> filled;
    for (int index = 1; index <= kNamedViews; ++index) {
        if (m_namedViews[size_t(index - 1)])
            filled.push_back(index);
    }
    m_tour->SetViews(filled);
}

bool COrvaneDlg::RecallView(int slot) {
    if (slot < 1 || slot > kNamedViews || !m_tour)
        return false;
    const std::optional<NamedView>& named = m_namedViews[size_t(slot - 1)];
    if (!named) {
        ShowText(FillNumber(LoadText(u"view_empty"), slot));
        return false;
    }
    ShowWallView(named->view);
    m_tour->SetCurrentView(slot);
    return true;
}

void COrvaneDlg::ToggleTour() {
    if (!m_tour)
        return;
    if (m_tour->Running())
        m_tour->Stop();
    else
        m_tour->Start();
}

void COrvaneDlg::OnTourState(WallTour::State state) {
    // Every key, click and turn of the wheel pauses a running tour; the
    // application's filter sees them whichever widget takes them.
    if (state == WallTour::State::Stopped)
        qApp->removeEventFilter(this);
    else
        qApp->installEventFilter(this);
    const bool on = state != WallTour::State::Stopped;
    if (on != m_tourOnStored && m_settingsWriter) {
        m_tourOnStored = on;
        m_settingsWriter->Post([on, window = m_windowNumber] { return SaveTourOn(on, window); });
    }
    PutStatusText(TourStatusText(state, m_tour->Interval(),
                                 [this](std::u16string_view key) { return LoadText(key); }));
}

bool COrvaneDlg::eventFilter(QObject* watched, QEvent* event) {
    // Input in another main window is not the user acting on this one's tour.
    const auto* widget = qobject_cast<const QWidget*>(watched);
    bool here = false;
    for (const QWidget* at = widget; at && !here; at = at->parentWidget())
        here = at == this;
    if (here && m_tour && m_tour->Running()) {
        switch (event->type()) {
            case QEvent::KeyPress: {
                // T is the tour's own key; it stops the tour instead.
                const auto* key = static_cast<QKeyEvent*>(event);
                if (key->key() != Qt::Key_T && !key->isAutoRepeat())
                    m_tour->UserActed();
                break;
            }
            case QEvent::MouseButtonPress:
            case QEvent::Wheel:
                m_tour->UserActed();
                break;
            default:
                break;
        }
    }
    return CSkinDialog::eventFilter(watched, event);
}

void COrvaneDlg::AddViewMenuEntries(QMenu* menu) {
    QMenu* views = menu->addMenu(LoadText(u"saved_views"));
    for (int slot = 1; slot <= kNamedViews; ++slot) {
        const std::optional<NamedView>& named = m_namedViews[size_t(slot - 1)];
        const QString name = named && !named->name.empty()
                                 ? QString::fromStdU16String(named->name)
                                 : FillNumber(LoadText(u"view_name"), slot);
        QAction* recall = views->addAction(name + QStringLiteral("\tAlt+%1").arg(slot));
        recall->setEnabled(named.has_value());
        connect(recall, &QAction::triggered, this, [this, slot] { RecallView(slot); });
    }
    views->addSeparator();
    QMenu* save = views->addMenu(LoadText(u"cmd_save_view"));
    for (int slot = 1; slot <= kNamedViews; ++slot) {
        QAction* action = save->addAction(FillNumber(LoadText(u"view_name"), slot) +
                                          QStringLiteral("\tCtrl+%1").arg(slot));
        connect(action, &QAction::triggered, this, [this, slot] { SaveView(slot); });
    }
    QAction* tour = menu->addAction(LoadText(u"cmd_tour") + QStringLiteral("\tT"));
    tour->setCheckable(true);
    tour->setChecked(m_tour && m_tour->Running());
    connect(tour, &QAction::triggered, this, [this] { ToggleTour(); });
}

void COrvaneDlg::FlushSettingsWrites() {
    if (m_settingsWriter)
        m_settingsWriter->Flush();
}

}  // namespace kavrel
