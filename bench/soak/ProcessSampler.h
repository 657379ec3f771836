#pragma once
// Samples this process's resident memory and CPU time, and keeps what a soak
// run reports: start, peak and end memory, memory after a settling time (with
// its trend), and CPU use per interval.
//
// Thread: one thread (the driver's user-interface thread) calls everything.

#include <cstdint>
#include <vector>

namespace kavrel::soak {

struct ProcessSample {
    double seconds = 0;      // since the sampler was made
    int64_t residentKb = 0;  // VmRSS
    double cpuPercent = 0;   // of one core, since the previous sample
};

// The number after `name` ("Threads:") in /proc/self/status; 0 when it cannot be read.
int64_t ReadStatusField(const char* name);
// VmRSS of this process in KB (0 when /proc cannot be read).
int64_t ReadResidentKb();
// User plus system CPU time of this process, in seconds.
double ReadCpuSeconds();

class ProcessSampler {
  public:
    // Samples taken before `settleSeconds` count for start and peak, but not
    // for the settled figures (growth after the warm-up).
    explicit ProcessSampler(double settleSeconds);

    // Takes one sample now and returns it.
    const ProcessSample& Sample();

    const std::vector<ProcessSample>& Samples() const { return m_samples; }
    struct Summary {
        int64_t startKb = 0, peakKb = 0, endKb = 0;
        double peakAtSeconds = 0;
        // After the settling time: the first sample, the lowest and highest,
        // and the least-squares slope over them (KB per minute).
        int64_t settledStartKb = 0, settledMinKb = 0, settledMaxKb = 0;
        double settledSlopeKbPerMinute = 0;
        int settledSamples = 0;
        double meanCpuPercent = 0, peakCpuPercent = 0;
    };
    Summary Summarise() const;

  private:
    double Now() const;

    const double m_settleSeconds;
    double m_startWall = 0;
    double m_lastWall = 0;
    double m_startCpu = 0;
    double m_lastCpu = 0;
    std::vector<ProcessSample> m_samples;
};

}  // namespace kavrel::soak
