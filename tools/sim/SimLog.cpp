#include "tools/sim/SimLog.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace kavrel::sim {
namespace {

const auto kStart = std::chrono::steady_clock::now();
std::mutex g_writeMutex;  // keeps lines whole when several sessions log at once

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

}  // namespace kavrel::sim
