#pragma once
// The application object: one per process. Holds the settings dialog's
// labels, which the main window loads at start, and runs the program:
// single-instance check, the first start's copy of config.txt, then the main
// window's modal run; when that returns the process ends.

#include <QApplication>

#include "app/CommandLine.h"
#include "config/Localisation.h"

namespace kavrel {

// The application's id on the desktop: the name of its desktop entry, icon and
// AppStream file.
inline constexpr char kDesktopFileId[] = "org.kavrel.Kavrel";

class COrvaneApp : public QApplication {
    Q_OBJECT

  public:
    COrvaneApp(int& argc, char** argv);

    // Runs the program with the command line's options and returns the
    // process's exit code.
    int Run(const CommandLine& options = {});

    SettingsLabels& settingsLabels() { return m_settingsLabels; }

    // The process's application object, or nullptr when it is not a COrvaneApp
    // (tests build the main window under a plain QApplication).
    static COrvaneApp* Instance();

  private:
    SettingsLabels m_settingsLabels;  // user-interface thread
};

}  // namespace kavrel
