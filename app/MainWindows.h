#pragma once
// The program's main windows: the main one (window 1), whose modal run is the
// program's, and those opened beside it on other monitors by a later start
// (`kavrel --screen N` while one runs, forwarded by SingleInstance). Each is
// a COrvaneDlg of its own: its own sessions, wall, selection, keys, full
// screen and off-screen recordings. The exit question's Yes in any of them
// ends the program; the close button of a window beside the main one closes
// that window alone (its sessions end and their clips finish in the
// background, as at exit).
//
// Monitors are numbered from 1 in QGuiApplication::screens() order, as the
// desktop numbers them. A window opened beside the main one goes to a monitor
// that has none yet; a later start naming a monitor that has one gives that
// window its options and raises it. The open windows (monitor, view, full
// screen) are kept in the settings store (settings/WindowPlaces.h), so a
// start without --screen opens them all again.
//
// Owns the windows and the settings writer they share, which outlives them
// all (a window closed meanwhile never waits for its last write).
// User-interface thread only.

#include <QObject>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "config/Localisation.h"

class QScreen;
class QWidget;

namespace kavrel {

class COrvaneDlg;
class SettingsWriter;

class MainWindows : public QObject {
    Q_OBJECT

  public:
    // `labels` belongs to the application object and outlives this set.
    explicit MainWindows(SettingsLabels& labels, QObject* parent = nullptr);
    // Ends the windows beside the main one, then the main one; the list of
    // open windows is left as it was, so they all come back at the next start.
    ~MainWindows() override;

    // The main window as `options` ask: on --screen's monitor, else where it
    // was, with the windows that were open beside it. Shows those others;
    // the main window is shown by its modal run.
    COrvaneDlg& Open(const CommandLine& options);
    // A later start's command line, forwarded: see the class comment; without
    // --screen the main window takes the options and comes forward.
    void OnForwarded(const std::vector<std::string>& arguments);
    // Every window and its sessions end (the program leaves); the writer's
    // jobs are written before this returns.
    void CloseAll();

    COrvaneDlg* Main() const { return m_main.get(); }
    // The main window first, then the others by number.
    std::vector<COrvaneDlg*> Windows() const;
    // The window on `monitor`, the main one first; nullptr when none.
    COrvaneDlg* WindowOn(const QScreen* monitor) const;

    // Monitor `number` (1-based, QGuiApplication::screens() order); a number
    // beyond the monitors present gives the first, with a debug line.
    static QScreen* MonitorNumbered(int number);

  private:
    COrvaneDlg& Make(int number, QScreen* monitor);
    COrvaneDlg* OpenOther(int number, QScreen* monitor, const CommandLine& options,
                          bool restoreStored);
    void OnClosed(COrvaneDlg* window);
    // The numbers of the windows beside the main one, to the store.
    void SaveWindowList();

    SettingsLabels& m_labels;
    std::shared_ptr<SettingsWriter> m_writer;
    std::unique_ptr<COrvaneDlg> m_main;
    std::vector<std::unique_ptr<COrvaneDlg>> m_others;  // ascending window numbers
};

}  // namespace kavrel
