// The minute of statistics: counts and rates over a sliding window of whole
// seconds, percentiles of latency from the merged per-second histograms,
// seconds that fall out of the window, and the graph's points.

#include "video/FrameTimeline.h"

#include <gtest/gtest.h>

namespace kavrel {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// A steady-clock instant `ms` milliseconds after an arbitrary whole second.
FrameClock::time_point At(int64_t ms) {
    return FrameClock::time_point(seconds(100000) + milliseconds(ms));
}

TEST(FrameTimelineTest, EmptyTimelineMeasuresNothing) {
    const FrameTimeline timeline;
    const FrameTimelineSummary summary = timeline.Summarise(At(0));
    EXPECT_EQ(summary.shown, 0u);
    EXPECT_EQ(summary.latencyMedianMs, -1);
    EXPECT_EQ(summary.latencyP95Ms, -1);
    EXPECT_EQ(summary.decodeMeanMs, -1);
    EXPECT_EQ(summary.decodeMaxMs, -1);
}

TEST(FrameTimelineTest, PercentilesOfLatenciesAcrossSecondsAndBinWidths) {
    struct Case {
        const char* name;
        int count;  // latencies 1, 2, ... count times `stepMs`
        double stepMs;
        double median;  // expected, within `tolerance`
        double p95;
        double tolerance;
    };
    const Case cases[] = {
        {"1 to 100 ms, 1 ms bins", 100, 1, 50, 95, 1},
        {"5 to 500 ms, 5 ms bins above 100", 100, 5, 250, 475, 5},
        {"50 to 5000 ms, 50 ms bins above 500", 100, 50, 2500, 4750, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameTimeline timeline;
        // Spread over 10 seconds, in an order that is not sorted.
        for (int i = 0; i < c.count; ++i) {
            const int value = (i * 37) % c.count + 1;
            timeline.AddShown(At(i * 100), milliseconds(int64_t(value * c.stepMs)));
        }
        const FrameTimelineSummary summary = timeline.Summarise(At(c.count * 100));
        EXPECT_EQ(summary.shown, uint64_t(c.count));
        EXPECT_NEAR(summary.latencyMedianMs, c.median, c.tolerance);
        EXPECT_NEAR(summary.latencyP95Ms, c.p95, c.tolerance);
    }
}

TEST(FrameTimelineTest, LatencyBeyondTheLastBinIsReportedAsItsEdge) {
    FrameTimeline timeline;
    timeline.AddShown(At(0), seconds(30));
    EXPECT_EQ(timeline.Summarise(At(10)).latencyMedianMs, 5000);
}

TEST(FrameTimelineTest, SecondsOlderThanAMinuteLeaveTheWindow) {
    FrameTimeline timeline;
    // A bad first second: slow pictures, drops, a long decode.
    timeline.AddShown(At(500), milliseconds(900));
    timeline.AddDropped(At(500), 12);
    timeline.AddDecoded(At(500), 1, milliseconds(80), milliseconds(80));
    // Then a calm stream: one frame every 40 ms for two minutes.
    auto calm = [&](int64_t from, int64_t to) {
        for (int64_t ms = from; ms < to; ms += 40) {
            timeline.AddReceived(At(ms), 1, 5000);
            timeline.AddDecoded(At(ms), 1, milliseconds(2), milliseconds(2));
            timeline.AddShown(At(ms), milliseconds(10));
        }
    };
    calm(1000, 30000);
    const FrameTimelineSummary early = timeline.Summarise(At(30000));
    EXPECT_EQ(early.dropped, 12u);
    EXPECT_NEAR(early.decodeMaxMs, 80, 1e-9);
    EXPECT_GT(early.latencyP95Ms, 10);  // 1 of 726 is slow: not yet the 95th
    EXPECT_LT(early.latencyP95Ms, 11);

    calm(30000, 121000);
    const FrameTimelineSummary late = timeline.Summarise(At(120999));
    EXPECT_EQ(late.dropped, 0u);
    EXPECT_NEAR(late.decodeMaxMs, 2, 1e-9);
    EXPECT_NEAR(late.decodeMeanMs, 2, 1e-9);
    // 60 seconds of 25 frames, counted whole.
    EXPECT_EQ(late.received, 1500u);
    EXPECT_EQ(late.shown, 1500u);
    EXPECT_NEAR(late.seconds, 60, 0.01);
    EXPECT_NEAR(late.receivedPerSecond, 25, 0.05);
    EXPECT_NEAR(late.shownPerSecond, 25, 0.05);
    EXPECT_NEAR(late.bitRateKbps, 25 * 5000 * 8 / 1000.0, 0.5);  // 1000 kbit/s
    EXPECT_NEAR(late.latencyMedianMs, 10.5, 0.5);

    // A minute of silence empties it.
    const FrameTimelineSummary silent = timeline.Summarise(At(182000));
    EXPECT_EQ(silent.received, 0u);
    EXPECT_EQ(silent.shown, 0u);
    EXPECT_EQ(silent.latencyMedianMs, -1);
}

TEST(FrameTimelineTest, AYoungTimelineRatesOverTheTimeItHasSeen) {
    FrameTimeline timeline;
    for (int64_t ms = 0; ms < 2000; ms += 100)
        timeline.AddReceived(At(ms), 1, 1000);
    const FrameTimelineSummary summary = timeline.Summarise(At(2000));
    EXPECT_EQ(summary.received, 20u);
    EXPECT_NEAR(summary.seconds, 2, 1e-6);
    EXPECT_NEAR(summary.receivedPerSecond, 10, 1e-6);
    EXPECT_NEAR(summary.bitRateKbps, 80, 1e-6);
}

TEST(FrameTimelineTest, HistoryHasOnePointPerWholeSecondOldestFirst) {
    FrameTimeline timeline;
    timeline.AddReceived(At(1500), 1, 1000);  // second 1: 8 kbit
    timeline.AddShown(At(1500), milliseconds(30));
    timeline.AddReceived(At(59500), 2, 4000);       // second 59: 32 kbit, no picture
    timeline.AddShown(At(60500), milliseconds(5));  // the current second: not a point yet

    const std::vector<FrameTimelinePoint> points = timeline.History(At(60500));
    ASSERT_EQ(points.size(), size_t(FrameTimeline::kSeconds));
    // Points cover seconds 0 .. 59 of the clock here.
    EXPECT_NEAR(points[1].bitRateKbps, 8, 1e-9);
    EXPECT_NEAR(points[1].latencyMedianMs, 30.5, 0.5);
    EXPECT_NEAR(points[59].bitRateKbps, 32, 1e-9);
    EXPECT_EQ(points[59].latencyMedianMs, -1);
    EXPECT_EQ(points[30].latencyMedianMs, -1);
    EXPECT_EQ(points[30].bitRateKbps, 0);
}

TEST(FrameTimelineTest, ClearForgetsEverything) {
    FrameTimeline timeline;
    timeline.AddShown(At(0), milliseconds(20));
    timeline.AddDropped(At(0), 3);
    timeline.Clear();
    const FrameTimelineSummary summary = timeline.Summarise(At(100));
    EXPECT_EQ(summary.shown, 0u);
    EXPECT_EQ(summary.dropped, 0u);
}

}  // namespace
}  // namespace kavrel
