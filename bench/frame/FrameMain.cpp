// kavrel-framebench --port P [--seconds S] [--size WxH] [--quad 1] [--wall LAYOUT]
//                   [--record 1] [--gather 1]
//
// What showing a picture costs the viewer: plays the stream of the server on
// 127.0.0.1:P in the main window, shown (offscreen) and painted as on a
// desktop, and prints, over S seconds (default 10) from the first picture:
// the frames decoded, the process's CPU time (every thread) per frame and
// per second, and the resident memory. With --quad 1 the page's four
// channels play in the 2x2 camera wall instead (frames: the four tiles'
// together); --wall 3x3 (4x4, 1+5) plays a page of that layout.
// With --record 1 the single view records a clip (into a scratch folder) while
// it is measured. The single view also prints the session's own statistics
// of the last minute at the end (latency from arrival to the screen, decode
// time, drops) and, when it runs longer than a minute, those of its first
// minute, with the deepest frame queue it saw (sampled every second). With
// --gather 1 every shown pixel is gathered one by one (the way pictures were
// converted before source rows were converted once), to compare the two in
// one run.
// bench/frame_cost.sh runs it beside ffmpeg.

#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/COrvaneDlg.h"
#include "app/CameraWall.h"
#include "app/NetworkBringUp.h"
#include "app/SessionRecording.h"
#include "app/StreamMonitor.h"
#include "bench/frame/ProcessMeasures.h"
#include "config/ConfigStore.h"
#include "platform/ReturnableHeap.h"
#include "settings/HistoryStore.h"
#include "skin/MessageBox.h"
#include "video/CVideoAtom.h"

namespace {

using kavrel::bench::CpuSeconds;
using kavrel::bench::StatusKb;
using kavrel::bench::ThreadCpu;

// Times each thread of this process was woken (voluntary context switches:
// it slept on a lock, a condition, a poll), by thread name.
std::map<std::string, long> ThreadWakeUps() {
    std::map<std::string, long> wakeUps;
    for (const QString& task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(QStringLiteral("/proc/self/task/%1/status").arg(task));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        std::string name;
        long switches = 0;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Name:"))
                name = line.mid(5).trimmed().toStdString();
            else if (line.startsWith("voluntary_ctxt_switches:"))
                switches = line.mid(24).trimmed().toLong();
        }
        wakeUps[name] += switches;
    }
    return wakeUps;
}

template <typename Done>
void RunUntil(Done done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs) {
        QEventLoop pause;
        QTimer::singleShot(5, &pause, &QEventLoop::quit);
        pause.exec();
    }
}

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    int seconds = 10;
    int width = 480;
    int height = 640;
    bool quad = false;
    kavrel::WallLayout layout = kavrel::WallLayout::Grid2;
    bool record = false;
    bool gather = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--port") == 0)
            port = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--quad") == 0)
            quad = std::atoi(argv[i + 1]) != 0;
        else if (std::strcmp(argv[i], "--wall") == 0)
            quad = kavrel::ParseLayoutName(QString::fromLocal8Bit(argv[i + 1]).toStdU16String(),
                                           layout) &&
                   layout != kavrel::WallLayout::Single;
        else if (std::strcmp(argv[i], "--record") == 0)
            record = std::atoi(argv[i + 1]) != 0;
        else if (std::strcmp(argv[i], "--gather") == 0)
            gather = std::atoi(argv[i + 1]) != 0;
        else if (std::strcmp(argv[i], "--size") == 0)
            std::sscanf(argv[i + 1], "%dx%d", &width, &height);
    }
    if (port <= 0 || seconds <= 0 || width <= 0 || height <= 0) {
        std::fprintf(stderr, "usage: kavrel-framebench --port P [--seconds S] [--size WxH]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // As the viewer runs, so that its memory is what is measured.
    kavrel::KeepLargeBlocksReturnable();
    QApplication app(argc, argv);
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return 1;
    {
        QFile config(scratch.filePath("config.txt"));
        if (!config.open(QIODevice::WriteOnly))
            return 1;
        config.write(QStringLiteral("[server]\nserver_address=127.0.0.1\nserver_port=%1\n"
                                    "server_username=admin\nserver_password=admin\n"
                                    "server_channel=0\n")
                         .arg(port)
                         .toUtf8());
    }
    kavrel::SetConfigFilePath(scratch.filePath("config.txt").toStdU16String());
    kavrel::SetSettingsStoreFile(scratch.filePath("settings.ini").toStdU16String());
    kavrel::SetNetworkBringUp([] { return true; });
    kavrel::SetMessageBoxHandler([](QWidget*, const QString&, const QString&,
                                    QMessageBox::StandardButtons,
                                    QMessageBox::Icon) { return QMessageBox::No; });

    kavrel::SettingsLabels labels;
    kavrel::COrvaneDlg window(labels);
    window.Initialise();
    window.resize(width, height);
    window.show();
    // The windows whose pictures count: the single view's, or the four tiles.
    std::vector<kavrel::CVideoAtom*> videos;
    if (quad) {
        window.SetWallLayout(layout);
        for (int index = 0; index < window.Wall()->Tiles(); ++index)
            videos.push_back(window.Wall()->Tile(index));
    } else {
        videos.push_back(window.VideoWindow());
        window.OnCommand(kavrel::control::kPlay);
    }
    int painted = 0;
    for (kavrel::CVideoAtom* video : videos)
        QObject::connect(video, &kavrel::CVideoAtom::pictureShown, [&] { ++painted; });
    auto decoded = [&] {
        uint64_t frames = 0;
        for (kavrel::CVideoAtom* video : videos)
            frames += video->Pipeline().Counters().framesDecoded;
        return frames;
    };
    kavrel::CVideoAtom* video = videos.front();
    if (gather) {
        for (kavrel::CVideoAtom* each : videos)
            each->Pipeline().SetSampling(kavrel::Sampling::kGather);
    }
    RunUntil([&] { return painted >= int(videos.size()); }, 30000);
    if (painted == 0) {
        std::fprintf(stderr, "kavrel-framebench: no picture from port %d\n", port);
        return 1;
    }
    if (record && !quad) {
        window.Session().Recording().SetFolder(
            std::filesystem::path(scratch.filePath("Videos").toStdString()));
        window.Session().ToggleRecording();
    }
    // bench/frame_cost.sh attaches its profiler at this line.
    std::printf("measuring pid %lld\n", (long long)getpid());
    std::fflush(stdout);
    const std::map<std::string, double> threadsBefore = ThreadCpu();
    const std::map<std::string, long> wakeUpsBefore = ThreadWakeUps();
    const double cpuBefore = CpuSeconds();
    const uint64_t decodedBefore = decoded();
    const int paintedBefore = painted;
    QElapsedTimer clock;
    clock.start();
    kavrel::StreamMonitor* monitor = quad ? nullptr : window.Session().Monitor();
    kavrel::FrameTimelineSummary firstMinute;
    size_t deepestQueue = 0;
    {
        // One timer, no polling: the loop wakes only for the viewer's own work
        // (and, once a second, to look at the queue's depth).
        QEventLoop measure;
        QTimer::singleShot(seconds * 1000, &measure, &QEventLoop::quit);
        if (monitor != nullptr && seconds > 60) {
            QTimer::singleShot(60 * 1000, &measure, [&] { firstMinute = monitor->Summary(); });
        }
        QTimer depth;
        QObject::connect(&depth, &QTimer::timeout, [&] {
            deepestQueue = std::max(deepestQueue, video->Pipeline().QueuedFrames());
        });
        depth.start(1000);
        measure.exec();
    }
    const double cpu = CpuSeconds() - cpuBefore;
    std::map<std::string, double> threads = ThreadCpu();
    std::map<std::string, long> wakeUps = ThreadWakeUps();
    const double wall = double(clock.elapsed()) / 1000.0;
    const uint64_t frames = decoded() - decodedBefore;
    const QImage shown = video->LatestPicture();
    std::printf("window %dx%d, picture shown %dx%d, decoded %dx%d\n", width, height, shown.width(),
                shown.height(), video->LatestPictureSource().width(),
                video->LatestPictureSource().height());
    std::printf("frames %llu in %.1f s, pictures shown %d\n", (unsigned long long)frames, wall,
                painted - paintedBefore);
    std::printf("viewer_cpu_ms_per_frame %.3f\n", frames ? cpu * 1000.0 / double(frames) : 0.0);
    std::printf("viewer_cpu_percent %.1f\n", 100.0 * cpu / wall);
    std::printf("viewer_cpu_ms_per_second %.1f\n", 1000.0 * cpu / wall);
    std::printf("resident_kb %ld peak_kb %ld\n", StatusKb("VmRSS:"), StatusKb("VmHWM:"));
    for (auto& [name, seconds] : threads) {
        const auto before = threadsBefore.find(name);
        const double used = seconds - (before == threadsBefore.end() ? 0.0 : before->second);
        const auto wokenBefore = wakeUpsBefore.find(name);
        const long woken =
            wakeUps[name] - (wokenBefore == wakeUpsBefore.end() ? 0 : wokenBefore->second);
        if (used > 0 && frames > 0)
            std::printf("  thread %-16s %.3f ms per frame, %.2f wake-ups per frame\n", name.c_str(),
                        used * 1000.0 / double(frames), double(woken) / double(frames));
    }
    if (monitor != nullptr) {
        auto print = [](const char* when, const kavrel::FrameTimelineSummary& s) {
            std::printf(
                "%s: received %llu decoded %llu shown %llu dropped %llu in %.1f s; "
                "decode_mean_ms %.2f decode_max_ms %.2f latency_median_ms %.2f "
                "latency_p95_ms %.2f bitrate_kbps %.0f\n",
                when, (unsigned long long)s.received, (unsigned long long)s.decoded,
                (unsigned long long)s.shown, (unsigned long long)s.dropped, s.seconds,
                s.decodeMeanMs, s.decodeMaxMs, s.latencyMedianMs, s.latencyP95Ms, s.bitRateKbps);
        };
        if (seconds > 60)
            print("stats_first_minute", firstMinute);
        print("stats_last_minute", monitor->Summary());
        std::printf("queued_frames_max %zu\n", deepestQueue);
    }
    if (record && !quad) {
        window.Session().ToggleRecording();
        RunUntil([&] { return !window.Session().Recording().Clips().empty(); }, 10000);
        const auto& clips = window.Session().Recording().Clips();
        std::printf("recorded %lld frames, %lld bytes\n",
                    clips.empty() ? 0LL : (long long)clips[0].frames,
                    clips.empty() ? 0LL : (long long)clips[0].fileBytes);
    }
    if (!quad)
        window.OnCommand(kavrel::control::kPlay);
    return 0;
}
