// kavrel-soak: the real main window, offscreen, against a running server for
// a chosen time, with a channel change at a fixed interval. It samples its
// own resident memory and CPU each second and prints start, peak and end
// memory, memory after the first minute with its trend, frames decoded and
// dropped, and the session's restarts. bench/soak.sh runs it against
// kavrel-sim and drops the connection every minute; scripts/netem.sh runs it
// over an impaired link.
//
// With --wall it shows a 4x4 camera wall instead, its tiles spread over the
// servers listed (WallSoak), and writes its per-second samples for
// bench/soak_wall.sh, which strikes the servers with faults meanwhile.
//
//   kavrel-soak --port PORT [--address ADDRESS] [--seconds N] [--channel-every S]
//               [--channels N] [--settle S] [--samples FILE.csv] [--config FILE]
//   kavrel-soak --wall ADDRESS:PORT[,ADDRESS:PORT...] [--seconds N]
//               [--samples FILE.csv] [--config FILE]
//
// Exit status: 0 when pictures were decoded (with --wall: every tile showed
// one), 1 when not, 2 for bad options.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/COrvaneDlg.h"
#include "app/NetworkBringUp.h"
#include "bench/soak/SoakDriver.h"
#include "bench/soak/WallSoak.h"
#include "config/ConfigStore.h"
#include "config/Localisation.h"
#include "platform/ReturnableHeap.h"
#include "settings/HistoryStore.h"
#include "skin/MessageBox.h"

namespace {

struct Arguments {
    std::string address = "127.0.0.1";
    int port = 0;
    std::string config = KAVREL_SOAK_CONFIG;  // the delivered texts
    std::string samplesPath;
    kavrel::soak::SoakOptions soak;
    std::vector<kavrel::ServerSettings> wall;  // --wall: the servers, in order
};

void Usage() {
    std::fprintf(stderr,
                 "usage: kavrel-soak --port PORT [--address ADDRESS] [--seconds N] "
                 "[--channel-every S] [--channels N] [--settle S] [--samples FILE.csv] "
                 "[--config FILE]\n"
                 "       kavrel-soak --wall ADDRESS:PORT[,ADDRESS:PORT...] [--seconds N] "
                 "[--samples FILE.csv] [--config FILE]\n");
}

// Whole number in [low, high] or exit 2.
long Number(const char* text, long low, long high, const char* option) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high) {
        std::fprintf(stderr, "kavrel-soak: %s wants a number from %ld to %ld\n", option, low, high);
        std::exit(2);
    }
    return value;
}

Arguments Parse(int argc, char** argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        if (i + 1 >= argc) {
            Usage();
            std::exit(2);
        }
        const char* value = argv[++i];
        if (!std::strcmp(option, "--address"))
            a.address = value;
        else if (!std::strcmp(option, "--port"))
            a.port = int(Number(value, 1, 65535, option));
        else if (!std::strcmp(option, "--seconds"))
            a.soak.duration = std::chrono::seconds(Number(value, 1, 7 * 86400, option));
        else if (!std::strcmp(option, "--channel-every"))
            a.soak.channelEvery = std::chrono::seconds(Number(value, 0, 86400, option));
        else if (!std::strcmp(option, "--channels"))
            a.soak.channels = int(Number(value, 1, 32, option));
        else if (!std::strcmp(option, "--settle"))
            a.soak.settle = std::chrono::seconds(Number(value, 0, 86400, option));
        else if (!std::strcmp(option, "--samples"))
            a.samplesPath = value;
        else if (!std::strcmp(option, "--wall")) {
            for (const QString& item : QString(value).split(',', Qt::SkipEmptyParts)) {
                const qsizetype colon = item.lastIndexOf(':');
                const int port =
                    colon > 0 ? int(Number(qPrintable(item.mid(colon + 1)), 1, 65535, option)) : 0;
                if (port == 0) {
                    Usage();
                    std::exit(2);
                }
                a.wall.push_back({item.left(colon).toStdU16String(),
                                  QString::number(port).toStdU16String(), u"admin", u"admin", 0});
            }
        } else if (!std::strcmp(option, "--config"))
            a.config = value;
        else {
            Usage();
            std::exit(2);
        }
    }
    if (a.port == 0 && a.wall.empty()) {
        Usage();
        std::exit(2);
    }
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // As the viewer runs, so that its memory is what is measured.
    kavrel::KeepLargeBlocksReturnable();
    QApplication app(argc, argv);
    Arguments args = Parse(argc, argv);

    // A config.txt of its own: the delivered texts and the server to soak.
    QTemporaryDir dir;
    const QString configPath = dir.filePath("config.txt");
    if (!dir.isValid() || !QFile::copy(QString::fromStdString(args.config), configPath)) {
        std::fprintf(stderr, "kavrel-soak: cannot copy %s\n", args.config.c_str());
        return 2;
    }
    QFile::setPermissions(configPath, QFile::ReadOwner | QFile::WriteOwner);
    kavrel::SetConfigFilePath(configPath.toStdU16String());
    kavrel::SaveCurrentServer({QString::fromStdString(args.address).toStdU16String(),
                               QString::number(args.port).toStdU16String(), u"admin", u"admin", 0});

    std::FILE* samples = nullptr;
    if (!args.samplesPath.empty() && !(samples = std::fopen(args.samplesPath.c_str(), "w"))) {
        std::fprintf(stderr, "kavrel-soak: cannot write %s\n", args.samplesPath.c_str());
        return 2;
    }
    args.soak.samples = samples;

    kavrel::SetNetworkBringUp([] { return true; });
    kavrel::SetMessageBoxHandler([](QWidget*, const QString&, const QString& text,
                                    QMessageBox::StandardButtons, QMessageBox::Icon) {
        std::fprintf(stderr, "kavrel-soak: message box: %s\n", qPrintable(text));
        return QMessageBox::No;
    });

    bool pictures = false;
    if (!args.wall.empty()) {
        kavrel::SetSettingsStoreFile(dir.filePath("settings.ini").toStdU16String());
        kavrel::soak::WallSoak wall({args.wall, args.soak.duration, samples});
        QObject::connect(&wall, &kavrel::soak::WallSoak::finished, &app,
                         [] { QApplication::exit(0); });
        std::printf("soak: %lld s, a 4x4 wall over %zu servers\n",
                    (long long)args.soak.duration.count(), args.wall.size());
        std::fflush(stdout);
        wall.Start();
        app.exec();
        std::printf("soak wall: %d of %d tiles showed pictures, Play pressed again for %d tiles\n",
                    wall.TilesWithPictures(), kavrel::soak::WallSoak::kTiles, wall.PlayPresses());
        pictures = wall.TilesWithPictures() == kavrel::soak::WallSoak::kTiles;
    } else {
        kavrel::SettingsLabels labels;
        kavrel::COrvaneDlg window(labels);
        window.Initialise();
        window.show();  // painted into the offscreen backing store, as on a screen

        kavrel::soak::SoakDriver driver(window, args.soak);
        // exit(), not quit(): quit() first closes the windows, and the main
        // window answers a close with its exit question.
        QObject::connect(&driver, &kavrel::soak::SoakDriver::finished, &app,
                         [] { QApplication::exit(0); });
        std::printf("soak: %lld s against %s:%d, channel change every %lld s over %d channels\n",
                    (long long)args.soak.duration.count(), args.address.c_str(), args.port,
                    (long long)args.soak.channelEvery.count(), args.soak.channels);
        std::fflush(stdout);
        driver.Start();
        app.exec();
        pictures = driver.PrintSummary(stdout);
    }
    if (samples)
        std::fclose(samples);
    return pictures ? 0 : 1;
}
