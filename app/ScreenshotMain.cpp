// kavrel-screenshot OUTPUT.png [PAGES] [--play MILLISECONDS] [--size WxH] [--dpr RATIO]
//                   [--settings] [--wall LAYOUT --server HOST:PORT ...]
//
// Builds the main window as the program starts it (texts and current server
// from config.txt beside this tool, network taken as up, the window's kept
// place and aspect ignored) and saves what it draws to OUTPUT.png without
// showing it. PAGES presses Switch that many times first. --play presses
// Play, waits for the first picture (at most 20 s), lets the session run
// MILLISECONDS more and then saves the window with the live video in it.
// --size gives the window's size in logical pixels (480x640 otherwise),
// --dpr the monitor's device pixel ratio (1 otherwise): the PNG has
// size x ratio pixels. --settings opens the settings dialog over the window
// and draws it where it opens. --wall shows a camera wall of LAYOUT ("2x2",
// "3x3", "4x4", "1+5") whose tiles show channels 1, 2, 3 ... spread in order
// over the --server options ([USER:PASSWORD@]HOST:PORT; the user and password
// of config.txt when not given), waits for
// every tile's first picture and saves it after --play MILLISECONDS (500
// otherwise). Runs without a display, on the offscreen platform.

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/COrvaneDlg.h"
#include "app/NetworkBringUp.h"
#include "settings/HistoryStore.h"
#include "settings/ui/CSetDialog.h"
#include "settings/ui/SetDialogHook.h"
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

// An offscreen monitor of `ratio` device pixels per logical pixel, large
// enough for the window, described in a file in `folder`.
bool UseOffscreenMonitor(const QTemporaryDir& folder, double ratio) {
    QFile file(folder.filePath("monitor.json"));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QStringLiteral("{\"screens\": [{\"name\": \"screenshot\", \"x\": 0, \"y\": 0, "
                              "\"width\": 3840, \"height\": 2160, \"logicalDpi\": 96, "
                              "\"logicalBaseDpi\": 96, \"dpr\": %1}]}")
                   .arg(ratio)
                   .toUtf8());
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(file.fileName()));
    return true;
}

// A wall of `layout` whose tile i shows channel i of the servers in turn:
// the first tiles the first server's, and so on.
bool MakeWall(const kavrel::COrvaneDlg& window, const char* layoutName,
              const std::vector<std::string>& servers, kavrel::WallView& view) {
    const std::u16string name = QString::fromLocal8Bit(layoutName).toStdU16String();
    if (!kavrel::ParseLayoutName(name, view.layout) || servers.empty())
        return false;
    const int tiles = kavrel::TileCount(view.layout);
    for (int index = 0; index < tiles; ++index) {
        std::string server = servers[size_t(index) * servers.size() / size_t(tiles)];
        kavrel::TileSource source;
        source.server = window.CurrentServer();
        source.server.channel = 0;
        const size_t at = server.rfind('@');
        if (at != std::string::npos) {
            const std::string login = server.substr(0, at);
            const size_t split = login.find(':');
            source.server.userName =
                QString::fromStdString(login.substr(0, split)).toStdU16String();
            source.server.password =
                split == std::string::npos
                    ? std::u16string()
                    : QString::fromStdString(login.substr(split + 1)).toStdU16String();
            server.erase(0, at + 1);
        }
        const size_t colon = server.rfind(':');
        if (colon == std::string::npos)
            return false;
        source.server.address = QString::fromStdString(server.substr(0, colon)).toStdU16String();
        source.server.port = QString::fromStdString(server.substr(colon + 1)).toStdU16String();
        source.channel = index;
        view.tiles.push_back(source);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int playMs = -1;
    int pages = 0;
    int width = 480;
    int height = 640;
    double ratio = 1.0;
    bool settings = false;
    const char* output = nullptr;
    const char* wall = nullptr;
    std::vector<std::string> servers;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--play") == 0 && i + 1 < argc) {
            playMs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2 || height < 1)
                width = 0;  // refused below
        } else if (std::strcmp(argv[i], "--dpr") == 0 && i + 1 < argc) {
            ratio = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--wall") == 0 && i + 1 < argc) {
            wall = argv[++i];
        } else if (std::strcmp(argv[i], "--server") == 0 && i + 1 < argc) {
            servers.emplace_back(argv[++i]);
        } else if (std::strcmp(argv[i], "--settings") == 0) {
            settings = true;
        } else if (output == nullptr) {
            output = argv[i];
        } else {
            pages = std::atoi(argv[i]);
        }
    }
    if (output == nullptr || width < 1 || ratio < 0.5 || ratio > 4.0) {
        std::fprintf(stderr,
                     "usage: kavrel-screenshot OUTPUT.png [PAGES] [--play MILLISECONDS] "
                     "[--size WxH] [--dpr RATIO] [--settings] [--wall LAYOUT --server "
                     "[USER:PASSWORD@]HOST:PORT ...]\n");
        return 2;
    }
    QTemporaryDir scratch;
    if (!scratch.isValid() || !UseOffscreenMonitor(scratch, ratio)) {
        std::fprintf(stderr, "kavrel-screenshot: no scratch folder\n");
        return 1;
    }
    QApplication app(argc, argv);
    kavrel::SetSettingsStoreFile(scratch.filePath("settings.ini").toStdU16String());
    kavrel::SetNetworkBringUp([] { return true; });
    kavrel::SetMessageBoxHandler([](QWidget*, const QString&, const QString& text,
                                    QMessageBox::StandardButtons, QMessageBox::Icon) {
        std::fprintf(stderr, "kavrel-screenshot: message box: %s\n", qPrintable(text));
        return QMessageBox::No;
    });

    kavrel::SettingsLabels labels;
    kavrel::COrvaneDlg window(labels);
    window.Initialise();
    window.resize(width, height);
    for (int i = 0; i < pages; ++i)
        window.OnCommand(kavrel::control::kSwitch);

    if (wall != nullptr) {
        kavrel::WallView view;
        if (!MakeWall(window, wall, servers, view)) {
            std::fprintf(stderr,
                         "kavrel-screenshot: --wall needs a layout and HOST:PORT servers\n");
            return 2;
        }
        window.ShowWallView(view);
        kavrel::CameraWall* tiles = window.Wall();
        const auto allShown = [tiles] {
            for (int index = 0; index < tiles->Tiles(); ++index) {
                if (tiles->Tile(index)->LatestPicture().isNull())
                    return false;
            }
            return true;
        };
        RunUntil(allShown, 20000);
        if (!allShown())
            std::fprintf(stderr, "kavrel-screenshot: a tile has no picture\n");
        RunUntil([] { return false; }, playMs >= 0 ? playMs : 500);
    } else if (playMs >= 0) {
        window.OnCommand(kavrel::control::kPlay);
        kavrel::CVideoAtom* video = window.VideoWindow();
        RunUntil([video] { return !video->LatestPicture().isNull(); }, 20000);
        if (video->LatestPicture().isNull())
            std::fprintf(stderr, "kavrel-screenshot: no picture after Play\n");
        RunUntil([] { return false; }, playMs);
    }

    QPixmap shot = window.grab();
    if (settings) {
        window.show();  // the dialog places itself over the window's client area
        kavrel::ScopedSetDialogHook hook([&](kavrel::CSetDialog& dialog) {
            QPainter painter(&shot);
            painter.drawPixmap(dialog.geometry().topLeft() - window.geometry().topLeft(),
                               dialog.grab());
            std::fprintf(stderr, "kavrel-screenshot: settings dialog at %d,%d %dx%d\n",
                         dialog.x() - window.x(), dialog.y() - window.y(), dialog.width(),
                         dialog.height());
        });
        window.OnCommand(kavrel::control::kSet);
    }
    if (!shot.save(QString::fromLocal8Bit(output))) {
        std::fprintf(stderr, "kavrel-screenshot: cannot write %s\n", output);
        return 1;
    }
    return 0;
}
