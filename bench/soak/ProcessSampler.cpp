#include "bench/soak/ProcessSampler.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace kavrel::soak {

int64_t ReadStatusField(const char* name) {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return 0;
    char line[256];
    long long value = 0;
    const size_t length = std::strlen(name);
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, name, length) == 0) {
            std::sscanf(line + length, "%lld", &value);
            break;
        }
    }
    std::fclose(status);
    return value;
}

int64_t ReadResidentKb() {
    return ReadStatusField("VmRSS:");
}

double ReadCpuSeconds() {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return 0;
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

ProcessSampler::ProcessSampler(double settleSeconds) : m_settleSeconds(settleSeconds) {
    m_startWall = m_lastWall = Now();
    m_startCpu = m_lastCpu = ReadCpuSeconds();
}

double ProcessSampler::Now() const {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

const ProcessSample& ProcessSampler::Sample() {
    const double wall = Now();
    const double cpu = ReadCpuSeconds();
    ProcessSample sample;
    sample.seconds = wall - m_startWall;
    sample.residentKb = ReadResidentKb();
    const double elapsed = wall - m_lastWall;
    sample.cpuPercent = elapsed > 0 ? 100.0 * (cpu - m_lastCpu) / elapsed : 0;
    m_lastWall = wall;
    m_lastCpu = cpu;
    m_samples.push_back(sample);
    return m_samples.back();
}

ProcessSampler::Summary ProcessSampler::Summarise() const {
    Summary s;
    if (m_samples.empty())
        return s;
    s.startKb = m_samples.front().residentKb;
    s.endKb = m_samples.back().residentKb;
    double cpuSum = 0;
    // Least squares over the settled samples: x in minutes, y in KB.
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const ProcessSample& sample : m_samples) {
        if (sample.residentKb > s.peakKb) {
            s.peakKb = sample.residentKb;
            s.peakAtSeconds = sample.seconds;
        }
        cpuSum += sample.cpuPercent;
        s.peakCpuPercent = std::max(s.peakCpuPercent, sample.cpuPercent);
        if (sample.seconds < m_settleSeconds)
            continue;
        if (s.settledSamples == 0) {
            s.settledStartKb = s.settledMinKb = s.settledMaxKb = sample.residentKb;
        }
        s.settledMinKb = std::min(s.settledMinKb, sample.residentKb);
        s.settledMaxKb = std::max(s.settledMaxKb, sample.residentKb);
        ++s.settledSamples;
        const double x = sample.seconds / 60.0;
        const double y = double(sample.residentKb);
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    s.meanCpuPercent = cpuSum / double(m_samples.size());
    const double n = s.settledSamples;
    const double denominator = n * sxx - sx * sx;
    if (s.settledSamples >= 2 && denominator > 0)
        s.settledSlopeKbPerMinute = (n * sxy - sx * sy) / denominator;
    return s;
}

}  // namespace kavrel::soak
