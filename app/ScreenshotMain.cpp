// kavrel-screenshot OUTPUT.png [PAGES] [--play MILLISECONDS]
//
// Builds the main window as the program starts it (texts and current server
// from config.txt beside this tool, network taken as up) and saves what it
// draws to OUTPUT.png without showing it. PAGES presses Switch that many
// times first. --play presses Play, waits for the first picture (at most
// 20 s), lets the session run MILLISECONDS more and then saves the window
// with the live video in it. Runs without a display: QT_QPA_PLATFORM=offscreen.

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/COrvaneDlg.h"
#include "app/NetworkBringUp.h"
#include "skin/MessageBox.h"
#include "video/CVideoAtom.h"

namespace {

// Runs the event loop until `done` holds or `limitMs` have passed.
template <typename Done>
void RunUntil(Done done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QEventLoop pause;
        QTimer::singleShot(5, &pause, &QEventLoop::quit);
        pause.exec();
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int playMs = -1;
    int pages = 0;
    const char* output = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--play") == 0 && i + 1 < argc) {
            playMs = std::atoi(argv[++i]);
        } else if (output == nullptr) {
            output = argv[i];
        } else {
            pages = std::atoi(argv[i]);
        }
    }
    if (output == nullptr) {
        std::fprintf(stderr, "usage: kavrel-screenshot OUTPUT.png [PAGES] [--play MILLISECONDS]\n");
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
    for (int i = 0; i < pages; ++i)
        window.OnCommand(kavrel::control::kSwitch);

    if (playMs >= 0) {
        window.OnCommand(kavrel::control::kPlay);
        kavrel::CVideoAtom* video = window.VideoWindow();
        RunUntil([video] { return !video->LatestPicture().isNull(); }, 20000);
        if (video->LatestPicture().isNull())
            std::fprintf(stderr, "kavrel-screenshot: no picture after Play\n");
        RunUntil([] { return false; }, playMs);
    }

    if (!window.grab().save(QString::fromLocal8Bit(output))) {
        std::fprintf(stderr, "kavrel-screenshot: cannot write %s\n", output);
        return 1;
    }
    return 0;
}
