#include "video/FrameTimeline.h"

#include <algorithm>
#include <cmath>

namespace kavrel {
namespace {

// The histogram's ranges: [start, end) in steps of `width` milliseconds.
struct Range {
    double start, end, width;
};
constexpr std::array<Range, 3> kRanges = {{{0, 100, 1}, {100, 500, 5}, {500, 5000, 50}}};
constexpr double kOverflowMs = 5000;

double Milliseconds(std::chrono::nanoseconds value) {
    return double(value.count()) / 1e6;
}

}  // namespace

int64_t FrameTimeline::SecondOf(FrameClock::time_point at) {
    return std::chrono::duration_cast<std::chrono::seconds>(at.time_since_epoch()).count();
}

FrameTimeline::Bucket& FrameTimeline::At(FrameClock::time_point now) {
    if (!m_started) {
        m_started = true;
        m_origin = now;
    }
    const int64_t second = SecondOf(now);
    Bucket& bucket = m_buckets[size_t(second % kSeconds)];
    if (bucket.second != second) {
        bucket = Bucket{};
        bucket.second = second;
    }
    return bucket;
}

const FrameTimeline::Bucket* FrameTimeline::Find(int64_t second) const {
    if (second < 0)
        return nullptr;
    const Bucket& bucket = m_buckets[size_t(second % kSeconds)];
    return bucket.second == second ? &bucket : nullptr;
}

void FrameTimeline::AddReceived(FrameClock::time_point now, uint64_t frames, uint64_t bytes) {
    if (frames == 0 && bytes == 0)
        return;
    Bucket& bucket = At(now);
    bucket.received += uint32_t(frames);
    bucket.bytes += bytes;
}

void FrameTimeline::AddDecoded(FrameClock::time_point now, uint64_t frames,
                               std::chrono::nanoseconds total, std::chrono::nanoseconds longest) {
    if (frames == 0)
        return;
    Bucket& bucket = At(now);
    bucket.decoded += uint32_t(frames);
    bucket.decodeNs += total.count();
    bucket.decodeMaxNs = std::max<int64_t>(bucket.decodeMaxNs, longest.count());
}

void FrameTimeline::AddDropped(FrameClock::time_point now, uint64_t frames) {
    if (frames == 0)
        return;
    At(now).dropped += uint32_t(frames);
}

void FrameTimeline::AddShown(FrameClock::time_point now, std::chrono::nanoseconds latency) {
    Bucket& bucket = At(now);
    ++bucket.shown;
    ++bucket.latency[size_t(BinOf(Milliseconds(latency)))];
}

void FrameTimeline::Clear() {
    m_buckets = {};
    m_started = false;
}

int FrameTimeline::BinOf(double ms) {
    int first = 0;
    for (const Range& range : kRanges) {
        const int bins = int((range.end - range.start) / range.width);
        if (ms < range.end)
            return first + std::clamp(int((ms - range.start) / range.width), 0, bins - 1);
        first += bins;
    }
    return kLatencyBins - 1;
}

double FrameTimeline::BinLow(int bin) {
    for (const Range& range : kRanges) {
        const int bins = int((range.end - range.start) / range.width);
        if (bin < bins)
            return range.start + bin * range.width;
        bin -= bins;
    }
    return kOverflowMs;
}

double FrameTimeline::BinWidth(int bin) {
    for (const Range& range : kRanges) {
        const int bins = int((range.end - range.start) / range.width);
        if (bin < bins)
            return range.width;
        bin -= bins;
    }
    return 0;  // the overflow bin reports its lower edge
}

double FrameTimeline::Quantile(const Histogram& counts, uint64_t total, double fraction) {
    if (total == 0)
        return -1;
    const double rank = fraction * double(total);
    uint64_t below = 0;
    for (int bin = 0; bin < kLatencyBins; ++bin) {
        const uint64_t count = counts[size_t(bin)];
        if (count == 0)
            continue;
        if (double(below + count) >= rank) {
            const double within = std::clamp((rank - double(below)) / double(count), 0.0, 1.0);
            return BinLow(bin) + within * BinWidth(bin);
        }
        below += count;
    }
    return kOverflowMs;
}

FrameTimelineSummary FrameTimeline::Summarise(FrameClock::time_point now) const {
    FrameTimelineSummary summary;
    if (!m_started)
        return summary;
    const int64_t current = SecondOf(now);
    Histogram latency{};
    int64_t decodeNs = 0;
    int64_t decodeMaxNs = -1;
    for (int64_t second = current - kSeconds + 1; second <= current; ++second) {
        const Bucket* bucket = Find(second);
        if (bucket == nullptr)
            continue;
        summary.received += bucket->received;
        summary.decoded += bucket->decoded;
        summary.shown += bucket->shown;
        summary.dropped += bucket->dropped;
        summary.bytes += bucket->bytes;
        decodeNs += bucket->decodeNs;
        if (bucket->decoded > 0)
            decodeMaxNs = std::max(decodeMaxNs, bucket->decodeMaxNs);
        for (size_t bin = 0; bin < latency.size(); ++bin)
            latency[bin] += bucket->latency[bin];
    }

    // The window reaches back to the start of the oldest second it holds,
    // or to the first event of a timeline younger than that.
    const auto windowStart = FrameClock::time_point(std::chrono::seconds(current - kSeconds + 1));
    const auto span = now - std::max(windowStart, m_origin);
    summary.seconds = std::max(
        double(std::chrono::duration_cast<std::chrono::microseconds>(span).count()) / 1e6, 1e-3);
    summary.receivedPerSecond = double(summary.received) / summary.seconds;
    summary.shownPerSecond = double(summary.shown) / summary.seconds;
    summary.bitRateKbps = double(summary.bytes) * 8.0 / 1000.0 / summary.seconds;
    if (summary.decoded > 0) {
        summary.decodeMeanMs = double(decodeNs) / 1e6 / double(summary.decoded);
        summary.decodeMaxMs = double(decodeMaxNs) / 1e6;
    }
    summary.latencyMedianMs = Quantile(latency, summary.shown, 0.5);
    summary.latencyP95Ms = Quantile(latency, summary.shown, 0.95);
    return summary;
}

std::vector<FrameTimelinePoint> FrameTimeline::History(FrameClock::time_point now) const {
    std::vector<FrameTimelinePoint> points(kSeconds);
    const int64_t current = SecondOf(now);
    for (int index = 0; index < kSeconds; ++index) {
        const Bucket* bucket = Find(current - kSeconds + index);
        if (bucket == nullptr)
            continue;
        FrameTimelinePoint& point = points[size_t(index)];
        point.bitRateKbps = double(bucket->bytes) * 8.0 / 1000.0;
        Histogram counts{};
        std::copy(bucket->latency.begin(), bucket->latency.end(), counts.begin());
        point.latencyMedianMs = Quantile(counts, bucket->shown, 0.5);
    }
    return points;
}

}  // namespace kavrel
