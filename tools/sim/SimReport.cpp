#include "tools/sim/SimReport.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace kavrel::sim {
namespace {

const auto kStart = std::chrono::steady_clock::now();
std::mutex g_writeMutex;  // keeps lines whole when several sessions log at once

void RaiseTo(std::atomic<uint64_t>& maximum, uint64_t value) {
    uint64_t seen = maximum.load();
    while (value > seen && !maximum.compare_exchange_weak(seen, value)) {
    }
}

}  // namespace

void LogEvent(const char* format, ...) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - kStart).count();
    char text[1024];
    int used = std::snprintf(text, sizeof text, "kavrel-sim %.3f ", seconds);
    va_list args;
    va_start(args, format);
    const int body = std::vsnprintf(text + used, sizeof text - size_t(used) - 1, format, args);
    va_end(args);
    used = std::min<int>(used + std::max(body, 0), int(sizeof text) - 2);
    text[used++] = '\n';
    std::lock_guard lock(g_writeMutex);
    const char* p = text;
    while (used > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, size_t(used));
        if (n <= 0)
            break;  // stderr gone: the log is best effort
        p += n;
        used -= int(n);
    }
}

void SimStats::NoteFrame(size_t size, bool key) {
    frames.fetch_add(1);
    frameBytes.fetch_add(size);
    RaiseTo(m_largestFrame, size);
    if (key) {
        keyFrames.fetch_add(1);
        RaiseTo(m_largestKeyFrame, size);
    }
}

std::string SimStats::Summary() const {
    const uint64_t frameCount = frames.load();
    char text[512];
    std::snprintf(text, sizeof text,
                  "summary: connections=%llu logins=%llu refused=%llu frames=%llu key_frames=%llu "
                  "bytes=%llu ptz=%llu channel_switches=%llu oversize_frames=%llu "
                  "mean_frame=%llu largest_frame=%llu largest_key_frame=%llu",
                  (unsigned long long)connections.load(), (unsigned long long)loginsAccepted.load(),
                  (unsigned long long)loginsRefused.load(), (unsigned long long)frameCount,
                  (unsigned long long)keyFrames.load(), (unsigned long long)bytes.load(),
                  (unsigned long long)ptzCommands.load(),
                  (unsigned long long)channelSwitches.load(),
                  (unsigned long long)oversizeFrames.load(),
                  (unsigned long long)(frameCount ? frameBytes.load() / frameCount : 0),
                  (unsigned long long)LargestFrame(), (unsigned long long)LargestKeyFrame());
    return text;
}

}  // namespace kavrel::sim
