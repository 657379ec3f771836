// kavrel-screenshot OUTPUT.png [PAGES]
//
// Builds the main window as the program starts it (texts and current server
// from config.txt beside this tool, network taken as up) and saves what it
// draws to OUTPUT.png without showing it. PAGES presses Switch that many
// times first. Runs without a display: QT_QPA_PLATFORM=offscreen.

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/COrvaneDlg.h"
#include "app/NetworkBringUp.h"
#include "skin/MessageBox.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: kavrel-screenshot OUTPUT.png [PAGES]\n");
        return 2;
    }
    kavrel::SetNetworkBringUp([] { return true; });
    kavrel::SetMessageBoxHandler([](QWidget*, const QString&, const QString& text,
                                    QMessageBox::StandardButtons, QMessageBox::Icon) {
        std::fprintf(stderr, "kavrel-screenshot: message box: %s\n", qPrintable(text));
        return QMessageBox::No;
    });

    kavrel::SettingsLabels labels;
    kavrel::COrvaneDlg window(labels);
    window.Initialise();
    const int pages = argc == 3 ? std::atoi(argv[2]) : 0;
    for (int i = 0; i < pages; ++i)
        window.OnCommand(kavrel::control::kSwitch);

    if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "kavrel-screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
