#pragma once
// What happened to a stream's frames over the last minute: how many were
// received, decoded, shown and dropped, what decoding took, how long a frame
// took from its arrival to the screen, and the bit rate.
//
// Kept in one bucket per second of a ring of kSeconds, so memory is fixed
// (about 70 KB) whatever the frame rate, a bucket that falls out of the minute
// is simply reused, and a query merges at most kSeconds buckets. Latencies
// are counted in a fixed histogram per bucket (1 ms steps up to 100 ms, then
// coarser), merged for the percentiles: exact to within a step's width.
//
// Threads: none inside. The owner (the user-interface thread, which paints)
// feeds and asks it; the other threads' events reach it as counters it
// samples and as stamps that travel with each picture.

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

namespace kavrel {

using FrameClock = std::chrono::steady_clock;

// The life of one frame, stamped as it goes. A default time point means
// "not stamped" (a redraw of an old picture has no arrival).
struct FrameStamps {
    FrameClock::time_point arrival;      // received (receive thread)
    FrameClock::time_point decodeStart;  // taken from the queue for decoding
    FrameClock::time_point decodeEnd;    // its picture came out of the decoder
    bool Stamped() const { return arrival != FrameClock::time_point{}; }
};

// The minute at a glance. Rates are per second over the part of the minute
// the timeline has seen; times are in milliseconds; -1 when nothing was
// measured (no picture shown, nothing decoded).
struct FrameTimelineSummary {
    uint64_t received = 0;
    uint64_t decoded = 0;
    uint64_t shown = 0;
    uint64_t dropped = 0;
    uint64_t bytes = 0;
    double seconds = 0;  // the span the counts cover, at most kSeconds
    double receivedPerSecond = 0;
    double shownPerSecond = 0;
    double bitRateKbps = 0;  // kilobits (1000 bits) per second
    double decodeMeanMs = -1;
    double decodeMaxMs = -1;
    double latencyMedianMs = -1;
    double latencyP95Ms = -1;
};

// One whole second of the minute, for the graph.
struct FrameTimelinePoint {
    double latencyMedianMs = -1;  // -1: no picture shown in that second
    double bitRateKbps = 0;
};

class FrameTimeline {
  public:
    static constexpr int kSeconds = 60;

    // Frames and payload bytes that arrived since the last call.
    void AddReceived(FrameClock::time_point now, uint64_t frames, uint64_t bytes);
    // Frames decoded since the last call, their decode time together and the
    // longest of them.
    void AddDecoded(FrameClock::time_point now, uint64_t frames, std::chrono::nanoseconds total,
                    std::chrono::nanoseconds longest);
    // Frames the drop policy removed since the last call.
    void AddDropped(FrameClock::time_point now, uint64_t frames);
    // One picture reached the screen `latency` after its frame arrived.
    void AddShown(FrameClock::time_point now, std::chrono::nanoseconds latency);

    FrameTimelineSummary Summarise(FrameClock::time_point now) const;
    // The kSeconds whole seconds before the current one, oldest first.
    std::vector<FrameTimelinePoint> History(FrameClock::time_point now) const;
    // Forgets everything (a new stream).
    void Clear();

    // Latency histogram steps: [0, 100) ms by 1 ms, [100, 500) by 5 ms,
    // [500, 5000) by 50 ms, and everything longer in one last bin.
    static constexpr int kLatencyBins = 100 + 80 + 90 + 1;

  private:
    struct Bucket {
        int64_t second = -1;  // which second it holds; -1: none yet
        uint32_t received = 0;
        uint32_t decoded = 0;
        uint32_t shown = 0;
        uint32_t dropped = 0;
        uint64_t bytes = 0;
        int64_t decodeNs = 0;
        int64_t decodeMaxNs = 0;
        std::array<uint32_t, kLatencyBins> latency{};
    };
    using Histogram = std::array<uint64_t, kLatencyBins>;

    static int64_t SecondOf(FrameClock::time_point at);
    // The bucket of `now`'s second, emptied first when it held an older one.
    Bucket& At(FrameClock::time_point now);
    // The bucket of `second` when it still holds that second, else null.
    const Bucket* Find(int64_t second) const;
    static int BinOf(double ms);
    static double BinLow(int bin);
    static double BinWidth(int bin);
    // The `fraction` quantile of the counts, interpolated within its bin.
    static double Quantile(const Histogram& counts, uint64_t total, double fraction);

    std::array<Bucket, kSeconds> m_buckets;
    FrameClock::time_point m_origin;  // the first event, for the span of a young timeline
    bool m_started = false;
};

}  // namespace kavrel
