// kavrel-sim: a simulated camera server for the viewer's tests and demos.
// See tools/README.md and --help.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

extern "C" {
#include <libavutil/log.h>
}

#include "tools/sim/AnnexBClip.h"
#include "tools/sim/H264Encoder.h"
#include "tools/sim/OnvifDevice.h"
#include "tools/sim/SimOptions.h"
#include "tools/sim/SimReport.h"
#include "tools/sim/SimServer.h"

namespace {

int g_signalPipe[2] = {-1, -1};

// Async-signal-safe: only a write to the pipe the server polls.
void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 's';
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

bool InstallSignalHandlers() {
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kavrel::sim;
    SimOptions options;
    std::string error;
    switch (ParseOptions(argc, argv, options, error)) {
        case ParseOutcome::Help:
            std::fputs(HelpText().c_str(), stdout);
            return 0;
        case ParseOutcome::Error:
            std::fprintf(stderr, "kavrel-sim: %s\n", error.c_str());
            return 2;
        case ParseOutcome::Run:
            break;
    }
    av_log_set_level(AV_LOG_ERROR);  // libx264's banner and statistics are not events
    if (!InstallSignalHandlers()) {
        std::fprintf(stderr, "kavrel-sim: cannot install signal handlers: %s\n",
                     std::strerror(errno));
        return 1;
    }

    std::shared_ptr<AnnexBClip> clip;
    if (!options.file.empty()) {
        clip = std::make_shared<AnnexBClip>();
        if (!clip->Load(options.file, error)) {
            std::fprintf(stderr, "kavrel-sim: %s\n", error.c_str());
            return 1;
        }
    } else {
        // Fail now, not on the first login, when libx264 is missing or refuses the settings.
        H264Encoder probe;
        if (!probe.Open({options.size.width, options.size.height, options.fps, options.bitRate,
                         options.gop, options.h265},
                        error)) {
            std::fprintf(stderr, "kavrel-sim: %s\n", error.c_str());
            return 1;
        }
    }

    SimStats stats;
    {
        SimServer server(options, stats, clip);
        if (!server.Listen(error)) {
            std::fprintf(stderr, "kavrel-sim: %s\n", error.c_str());
            return 1;
        }
        if (clip) {
            LogEvent("streaming %s: %zu access units, %dx%d, looping", options.file.c_str(),
                     clip->Units().size(), clip->Size().width, clip->Size().height);
        }
        LogEvent(
            "version %d (%s dialect), %d channel(s), user '%s', %dx%d, %d fps, %d bit/s, "
            "key frame every %d, faults: %s",
            options.version, options.version >= 5 ? "current" : "legacy", options.channels,
            options.user.c_str(), options.size.width, options.size.height, options.fps,
            options.bitRate, options.gop, options.faults.Names().c_str());
        std::printf("kavrel-sim listening on %s\n", server.BoundAddress().c_str());
        // Started after the protocol server so a test reading stdout sees its line first.
        std::unique_ptr<OnvifDevice> onvif;
        if (options.onvifPort >= 0) {
            onvif = std::make_unique<OnvifDevice>(options);
            if (!onvif->Start(error)) {
                std::fprintf(stderr, "kavrel-sim: %s\n", error.c_str());
                return 1;
            }
            std::printf("kavrel-sim onvif on %s\n", onvif->BoundAddress().c_str());
            if (onvif->DiscoveryPort() >= 0)
                std::printf("kavrel-sim discovery on %d\n", onvif->DiscoveryPort());
            // Also as an event, for tests that read only the log.
            LogEvent("onvif device on %s, discovery port %d", onvif->BoundAddress().c_str(),
                     onvif->DiscoveryPort());
        }
        std::fflush(stdout);
        server.Run(g_signalPipe[0]);
        if (onvif)
            LogEvent("%s", onvif->Summary().c_str());
    }
    LogEvent("%s", stats.Summary().c_str());
    return 0;
}
