// kavrel-stallbench: how long the main window's user-interface thread stops
// answering in the cases that used to freeze it. A 10 ms timer runs on that
// thread (UiStallProbe); each case prints the largest lateness of a tick.
// Driven by bench/ui_stall.sh, which sets up a name server that never answers.
//
// Cases:
//   blackhole  Play against a port that drops connection requests, then Stop
//   lookup     Play against a host name whose lookup never answers, then Stop
//              (needs /etc/resolv.conf pointing at a silent server: --lookup-host)
//   watchdog   the video watchdog restarting a session that plays
//   settings   the settings dialog closing with a history of 100 entries
//   snapshot   Stop pressed while a 1080p snapshot is being written, to the
//              local disk and to a folder that takes 500 ms per file (a network)
//   ptz        PTZ clicks against a server that answered the login and then
//              stopped reading, until the session has given the connection up
//
// Usage: kavrel-stallbench --sim PATH --config PATH [--lookup-host NAME]
//                          [--silent-name-server yes]
// --silent-name-server binds UDP 127.0.0.1:53 and never reads it: the name
// server of the test resolv.conf, which takes every query and answers none.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "app/COrvaneDlg.h"
#include "app/NetworkBringUp.h"
#include "app/UiStallProbe.h"
#include "config/ConfigStore.h"
#include "config/Localisation.h"
#include "protocol/WireFormat.h"
#include "settings/HistoryEntry.h"
#include "settings/HistoryStore.h"
#include "settings/ui/SetDialogHook.h"
#include "skin/ControlIds.h"
#include "skin/MessageBox.h"
#include "tests/support/SilentPeer.h"
#include "tests/support/TestPorts.h"
#include "video/CVideoAtom.h"
#include "video/SnapshotWriter.h"

namespace kavrel {
namespace {

// Runs the event loop for `ms`, or until `done` holds.
void RunFor(int ms, const std::function<bool()>& done = {}) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms && !(done && done())) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void Report(const char* name, const UiStallProbe& probe, const char* note = "") {
    std::printf("%-10s largest lateness %6lld ms%s\n", name, (long long)probe.MaxLateness().count(),
                note);
    std::fflush(stdout);
}

void PointAt(const QString& address, int port) {
    SaveCurrentServer(
        {address.toStdU16String(), QString::number(port).toStdU16String(), u"admin", u"admin", 0});
}

// Play, one second of the event loop, Stop, another moment: the probe sees
// any freeze in either press.
void PlayAndStop(const char* name, const QString& address, int port) {
    PointAt(address, port);
    SettingsLabels labels;
    COrvaneDlg window(labels);
    window.Initialise();
    UiStallProbe probe;
    RunFor(100);
    probe.Reset();
    window.OnCommand(control::kPlay);
    RunFor(1000);
    window.OnCommand(control::kPlay);
    RunFor(100);
    Report(name, probe);
}

bool StartSimulator(QProcess& sim, const QString& path, int& port,
                    const QStringList& options = {}) {
    // Its log goes to this program's stderr: a pipe nobody reads would fill and stall it.
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(path, QStringList{"--address", "127.0.0.1", "--port", "0"} + options);
    if (!sim.waitForStarted(10000))
        return false;
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20000) {
        sim.waitForReadyRead(100);
        out += sim.readAllStandardOutput();
        const int at = out.indexOf("listening on ");
        const int end = out.indexOf('\n', at);
        if (at >= 0 && end > at) {
            const QByteArray where = out.mid(at, end - at);
            port = where.mid(where.lastIndexOf(':') + 1).toInt();
            return port > 0;
        }
    }
    return false;
}

void Watchdog(const QString& simPath) {
    QProcess sim;
    int port = 0;
    if (!StartSimulator(sim, simPath, port)) {
        std::printf("watchdog   skipped: kavrel-sim did not start (%s)\n", qPrintable(simPath));
        return;
    }
    PointAt("127.0.0.1", port);
    {
        SettingsLabels labels;
        COrvaneDlg window(labels);
        window.Initialise();
        UiStallProbe probe;
        window.OnCommand(control::kPlay);
        RunFor(10000, [&] { return window.videoReceived(); });
        probe.Reset();
        window.OnTimer(4000);  // SessionTimers::kVideoWatchdog
        RunFor(5000, [&] { return window.videoReceived(); });
        Report("watchdog", probe, window.videoReceived() ? "" : " (no picture again)");
    }
    sim.terminate();
    sim.waitForFinished(10000);
}

void SettingsClose(const QString& folder) {
    SetSettingsStoreFile((folder + "/settings.ini").toStdU16String());
    for (int slot = 0; slot < 100; ++slot) {
        const std::u16string n = QString::number(slot).toStdU16String();
        WriteRegistryString(u"history" + n, FormatHistoryEntry(u"10.0.0." + n, u"9000", u"user" + n,
                                                               u"pw" + n, u"1"));
    }
    PointAt("127.0.0.1", 9);
    SettingsLabels labels;
    COrvaneDlg window(labels);
    window.Initialise();
    UiStallProbe probe;
    // Measured from the moment the dialog stands open: the close path (the
    // history written back) and the return to the main window.
    ScopedSetDialogHook hook([&](CSetDialog&) { probe.Reset(); });
    window.OnCommand(control::kSet);
    RunFor(100);
    Report("settings", probe);
}

// --- Stop during a snapshot ---
// A 1080p stream plays; Capture, and once the snapshot's file is open
// (the writer's hook says so, then takes `delayMs` more, as a folder on a
// network would), Stop. The outcome must still arrive, with the whole file.
void StopDuringSnapshot(const QString& simPath, const QString& folder) {
    QProcess sim;
    int port = 0;
    constexpr int kWidth = 1920;
    constexpr int kHeight = 1080;
    if (!StartSimulator(sim, simPath, port,
                        {"--size", "1920x1080", "--fps", "10", "--bitrate", "800000"})) {
        std::printf("snapshot   skipped: kavrel-sim did not start (%s)\n", qPrintable(simPath));
        return;
    }
    PointAt("127.0.0.1", port);
    {
        SettingsLabels labels;
        COrvaneDlg window(labels);
        window.Initialise();
        SnapshotWriter& writer = window.VideoWindow()->Pipeline().Snapshots();
        writer.SetFolder(folder.toStdString());
        for (const int delayMs : {0, 500}) {
            std::atomic<bool> writing{false};
            writer.SetWriteHook([&writing, delayMs] {
                writing = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            });
            bool reported = false;
            bool ok = false;
            QString path;
            const QMetaObject::Connection outcome =
                QObject::connect(window.VideoWindow(), &CVideoAtom::snapshotWritten,
                                 [&](bool written, const QString& file) {
                                     reported = true;
                                     ok = written;
                                     path = file;
                                 });
            const char* name = delayMs == 0 ? "snapshot" : "snap-slow";
            window.OnCommand(control::kPlay);
            RunFor(20000, [&] { return window.videoReceived(); });
            if (!window.videoReceived()) {
                std::printf("%-10s skipped: no picture from kavrel-sim\n", name);
                QObject::disconnect(outcome);
                break;
            }
            RunFor(500);  // a few pictures on screen
            window.OnCommand(control::kCapture);
            RunFor(5000, [&] { return writing.load(); });
            UiStallProbe probe;
            RunFor(50);
            probe.Reset();
            window.OnCommand(control::kPlay);  // Stop
            RunFor(100);
            const long long stall = (long long)probe.MaxLateness().count();
            RunFor(10000, [&] { return reported; });
            const qint64 expected = 54 + 3LL * kWidth * kHeight;
            const qint64 size = QFileInfo(path).size();
            char note[160];
            std::snprintf(note, sizeof note, " (%d ms per file; %s, %lld of %lld bytes)", delayMs,
                          !reported ? "no outcome"
                          : ok      ? "written"
                                    : "failed",
                          (long long)size, (long long)expected);
            std::printf("%-10s largest lateness %6lld ms%s\n", name, stall, note);
            std::fflush(stdout);
            QObject::disconnect(outcome);
            writer.SetWriteHook({});
        }
    }
    sim.terminate();
    sim.waitForFinished(10000);
}
// --- end of Stop during a snapshot ---
// The Current dialect's accepted login and a stream format: the session
// watches, and its PTZ buttons send.
std::vector<uint8_t> AcceptedLogin() {
    wire::PacketBuilder login(0);
    login.Add(wire::kVersionInfo, std::vector<uint8_t>{5, 0, 0, 0});
    login.Add(wire::kLoginAnswer, std::vector<uint8_t>{1, 0, 0, 0});
    const StreamFormatInfo format = StreamFormatInfo::Make(352, 288, 25, 512000);
    wire::PacketBuilder formatPacket(0);
    formatPacket.Add(wire::kStreamFormatInfo,
                     std::vector<uint8_t>(format.bytes.begin(), format.bytes.end()));
    std::vector<uint8_t> bytes = login.Bytes();
    const std::vector<uint8_t>& more = formatPacket.Bytes();
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

// Clicks Left, one click per turn of the event loop, as fast as the window
// takes them, until the session has dropped the connection. Each click
// sends 40 bytes, so the socket's buffers fill within some thousand clicks;
// a click that waits for the server to read shows as the lateness. Gives up
// after 30 s (a session that is never told keeps its engine).
void PtzAgainstStalledServer() {
    constexpr size_t kLoginSize = 88;  // the Current login
    test::SilentPeer peer(kLoginSize, AcceptedLogin());
    PointAt("127.0.0.1", peer.Port());
    SettingsLabels labels;
    COrvaneDlg window(labels);
    window.Initialise();
    // Only the lost connection may end the session here, not the watchdog.
    window.Timers().SetInterval(4000, std::chrono::hours(1));
    window.OnCommand(control::kPlay);
    RunFor(10000, [&] { return peer.Answered() && window.lastStreamFormat().Width() != 0; });
    if (!peer.Answered()) {
        std::printf("ptz        skipped: the login was not answered\n");
        return;
    }
    UiStallProbe probe;
    RunFor(100);
    probe.Reset();
    QElapsedTimer clock;
    clock.start();
    int clicks = 0;
    while (window.HasSource() && clock.elapsed() < 30000) {
        window.OnCommand(control::kPtzLeft);
        ++clicks;
        QCoreApplication::processEvents();
    }
    RunFor(100);
    char note[96];
    std::snprintf(
        note, sizeof note, " (%d clicks, %s)", clicks,
        window.HasSource() ? "the session was never told" : "connection lost, retry scheduled");
    Report("ptz", probe, note);
}

}  // namespace
}  // namespace kavrel

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString simPath;
    QString lookupHost;
    QString config;
    bool silentNameServer = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--silent-name-server"))
            silentNameServer = !std::strcmp(argv[i + 1], "yes");
        if (!std::strcmp(argv[i], "--sim"))
            simPath = argv[i + 1];
        else if (!std::strcmp(argv[i], "--lookup-host"))
            lookupHost = argv[i + 1];
        else if (!std::strcmp(argv[i], "--config"))
            config = argv[i + 1];
    }
    if (simPath.isEmpty() || config.isEmpty()) {
        std::fprintf(stderr,
                     "usage: kavrel-stallbench --sim PATH --config PATH [--lookup-host NAME]\n");
        return 2;
    }

    QTemporaryDir dir;
    const QString configPath = dir.filePath("config.txt");
    if (!dir.isValid() || !QFile::copy(config, configPath)) {
        std::fprintf(stderr, "kavrel-stallbench: cannot copy %s\n", qPrintable(config));
        return 2;
    }
    QFile::setPermissions(configPath, QFile::ReadOwner | QFile::WriteOwner);
    kavrel::SetConfigFilePath(configPath.toStdU16String());
    kavrel::SetSettingsStoreFile(dir.filePath("settings.ini").toStdU16String());
    kavrel::SetNetworkBringUp([] { return true; });
    kavrel::SetMessageBoxHandler([](QWidget*, const QString&, const QString&,
                                    QMessageBox::StandardButtons,
                                    QMessageBox::Icon) { return QMessageBox::No; });

    if (silentNameServer) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            std::fprintf(stderr, "kavrel-stallbench: cannot bind UDP 127.0.0.1:53\n");
            lookupHost.clear();
        }
        // Left open, never read, until the process ends.
    }

    const kavrel::test::BlackholePort blackhole;
    kavrel::PlayAndStop("blackhole", "127.0.0.1", blackhole.Port());
    if (lookupHost.isEmpty())
        std::printf("lookup     skipped: no --lookup-host\n");
    else
        kavrel::PlayAndStop("lookup", lookupHost, 80);
    kavrel::Watchdog(simPath);
    kavrel::SettingsClose(dir.path());
    kavrel::StopDuringSnapshot(simPath, dir.path());
    kavrel::PtzAgainstStalledServer();
    return 0;
}
