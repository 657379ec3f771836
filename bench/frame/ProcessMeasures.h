#pragma once
// What the frame and wall benches read about their own process.

#include <sys/resource.h>

#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cstring>
#include <map>
#include <string>

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

// The CPU seconds (utime and stime, in clock ticks) of a /proc stat file of a
// process or a thread, and its name; -1 when it cannot be read.
inline double StatCpuSeconds(const QString& path, std::string* name = nullptr) {
    QFile stat(path);
    if (!stat.open(QIODevice::ReadOnly))
        return -1.0;
    const QByteArray line = stat.readAll();
    const int open = line.indexOf('(');
    const int close = line.lastIndexOf(')');
    if (open < 0 || close < open)
        return -1.0;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 13)
        return -1.0;
    if (name != nullptr)
        *name = line.mid(open + 1, close - open - 1).toStdString();
    // utime and stime are the 14th and 15th fields of the whole line.
    return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// CPU seconds of every thread of this process, by thread name: from the
// scheduler's own count in nanoseconds where the kernel keeps one (a thread
// that runs 0.05 ms a frame is a tick or two in 10 s in clock ticks), else
// from the clock ticks of utime and stime.
inline std::map<std::string, double> ThreadCpu() {
    std::map<std::string, double> cpu;
    for (const QString& task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        QFile schedstat(QStringLiteral("/proc/self/task/%1/schedstat").arg(task));
        if (comm.open(QIODevice::ReadOnly) && schedstat.open(QIODevice::ReadOnly)) {
            bool ok = false;
            const double ns = schedstat.readAll().split(' ').value(0).toDouble(&ok);
            if (ok) {
                cpu[comm.readAll().trimmed().toStdString()] += ns / 1e9;
                continue;
            }
        }
        std::string name;
        const double seconds =
            StatCpuSeconds(QStringLiteral("/proc/self/task/%1/stat").arg(task), &name);
        if (seconds >= 0)
            cpu[name] += seconds;
    }
    return cpu;
}

// CPU seconds of another process (an X server, say) so far; -1 when it
// cannot be read (gone, or another user's).
inline double ProcessCpu(long pid) {
    return pid > 0 ? StatCpuSeconds(QStringLiteral("/proc/%1/stat").arg(pid)) : -1.0;
}

}  // namespace kavrel::bench
