#pragma once
// The application object: one per process. Holds the settings dialog's
// labels, which the main window loads at start, and runs the program:
// single-instance check, the first start's copy of config.txt, then the main
// window's modal run (with the windows beside it: app/MainWindows.h); when
// that returns the process ends.

#include <QApplication>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "config/Localisation.h"

namespace kavrel {

class COrvaneDlg;
class MainWindows;

// The application's id on the desktop: the name of its desktop entry, icon and
// AppStream file.
inline constexpr char kDesktopFileId[] = "org.kavrel.Kavrel";

class COrvaneApp : public QApplication {
    Q_OBJECT

  public:
    COrvaneApp(int& argc, char** argv);

    // Runs the program with the command line's options and returns the
    // process's exit code. `arguments` (the command line itself) go to the
    // copy already running, if one is.
    int Run(const CommandLine& options = {}, const std::vector<std::string>& arguments = {});

    SettingsLabels& settingsLabels() { return m_settingsLabels; }

    // The main window's modal run until the user leaves or a signal to end
    // arrives (ExitSignals), then its end: the window and its sessions go
    // (the view is saved, every recording's file starts closing), and the
    // files are waited for, at most `closingLimit`.
    static void RunWindow(std::unique_ptr<COrvaneDlg> window,
                          std::chrono::milliseconds closingLimit = std::chrono::seconds(30));
    // The same for the main window of `windows` and those beside it, which
    // all end when the main window's run does.
    static void RunWindows(MainWindows& windows,
                           std::chrono::milliseconds closingLimit = std::chrono::seconds(30));

    // The process's application object, or nullptr when it is not a COrvaneApp
    // (tests build the main window under a plain QApplication).
    static COrvaneApp* Instance();

  private:
    SettingsLabels m_settingsLabels;  // user-interface thread
};

}  // namespace kavrel
