// kavrel-soak: the real main window, offscreen, against a running server for
// a chosen time, with a channel change at a fixed interval. It samples its
// own resident memory and CPU each second and prints start, peak and end
// memory, memory after the first minute with its trend, frames decoded and
// dropped, and the session's restarts. bench/soak.sh runs it against
// kavrel-sim and drops the connection every minute; scripts/netem.sh runs it
// over an impaired link.
//
//   kavrel-soak --port PORT [--address ADDRESS] [--seconds N] [--channel-every S]
//               [--channels N] [--settle S] [--samples FILE.csv] [--config FILE]
//
// Exit status: 0 when pictures were decoded, 1 when none were, 2 for bad options.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/COrvaneDlg.h"
#include "app/NetworkBringUp.h"
#include "bench/soak/SoakDriver.h"
#include "config/ConfigStore.h"
#include "config/Localisation.h"
#include "skin/MessageBox.h"

namespace {

struct Arguments {
    std::string address = "127.0.0.1";
    int port = 0;
    std::string config = KAVREL_SOAK_CONFIG;  // the delivered texts
    std::string samplesPath;
    kavrel::soak::SoakOptions soak;
};

void Usage() {
    std::fprintf(stderr,
                 "usage: kavrel-soak --port PORT [--address ADDRESS] [--seconds N] "
                 "[--channel-every S] [--channels N] [--settle S] [--samples FILE.csv] "
                 "[--config FILE]\n");
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
        else if (!std::strcmp(option, "--config"))
            a.config = value;
        else {
            Usage();
            std::exit(2);
        }
    }
    if (a.port == 0) {
        Usage();
        std::exit(2);
    }
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
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
    {
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
