#pragma once
// What the frame and wall benches read about their own process.

#include <sys/resource.h>

#include <QByteArray>
#include <QFile>
#include <cstring>

namespace kavrel::bench {

// CPU seconds (user and system) of every thread of this process so far.
inline double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A "Vm..." line of /proc/self/status, in KB; -1 when there is none.
inline long StatusKb(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(std::strlen(field))).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

}  // namespace kavrel::bench
