#include "platform/DebugSink.h"

#include <QLoggingCategory>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

Q_LOGGING_CATEGORY(kavrelLog, "kavrel", QtInfoMsg)

namespace kavrel {
namespace {

std::mutex g_sinkMutex;
DebugSinkFunction g_sink;  // guarded by g_sinkMutex; empty means the Qt category
// Whether g_sink holds a function: written under g_sinkMutex, read without
// it, so that a line nobody takes costs neither the lock nor its formatting.
std::atomic<bool> g_hasSink{false};

// False when a line would be dropped: no sink of a test's and the category's
// debug level off (the logging rules are read live, so enabling them at run
// time takes effect at the next line).
bool Wanted() {
    return g_hasSink.load(std::memory_order_acquire) || kavrelLog().isDebugEnabled();
}

void DefaultSink(std::string_view line) {
    // The category drops debug messages unless enabled by logging rules.
    if (kavrelLog().isDebugEnabled()) {
        std::string_view trimmed = line;
        if (!trimmed.empty() && trimmed.back() == '\n')
            trimmed.remove_suffix(1);
        qCDebug(kavrelLog).noquote()
            << QString::fromUtf8(trimmed.data(), qsizetype(trimmed.size()));
    }
}

}  // namespace

void DebugOutput(std::string_view line) {
    if (!Wanted())
        return;
    std::lock_guard lock(g_sinkMutex);
    if (g_sink) {
        g_sink(line);
    } else {
        DefaultSink(line);
    }
}

void DebugPrintf(const char* format, ...) {
    if (!Wanted())
        return;
    char small[256];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (needed < 0) {
        va_end(copy);
        return;
    }
    if (static_cast<size_t>(needed) < sizeof small) {
        va_end(copy);
        DebugOutput(std::string_view(small, static_cast<size_t>(needed)));
        return;
    }
    std::vector<char> large(static_cast<size_t>(needed) + 1);
    std::vsnprintf(large.data(), large.size(), format, copy);
    va_end(copy);
    DebugOutput(std::string_view(large.data(), static_cast<size_t>(needed)));
}

DebugSinkFunction SetDebugSink(DebugSinkFunction sink) {
    std::lock_guard lock(g_sinkMutex);
    DebugSinkFunction previous = std::move(g_sink);
    g_sink = std::move(sink);
    g_hasSink.store(bool(g_sink), std::memory_order_release);
    return previous;
}

}  // namespace kavrel
