// The back-off schedule and the count-down text.

#include <gtest/gtest.h>

#include "app/ReconnectPolicy.h"

namespace kavrel {
namespace {

using std::chrono::milliseconds;

TEST(ReconnectPolicyTest, WaitsGrowToTheTenSecondCapWithinTheirJitter) {
    const ReconnectPolicy policy;
    // The shortest, middle and longest wait of each retry: the jitter of the
    // last step stays whole, below the cap.
    struct Case {
        int retry;
        int shortest, middle, longest;
    } cases[] = {
        {1, 800, 1000, 1200},         {2, 1600, 2000, 2400},  {3, 3200, 4000, 4800},
        {4, 6400, 8000, 9600},        {5, 8000, 9000, 10000}, {6, 8000, 9000, 10000},
        {0, 800, 1000, 1200},  // out of range: the first step
        {1000000, 8000, 9000, 10000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RetryDelay(policy, c.retry, 0.0).count(), c.shortest) << c.retry;
        EXPECT_EQ(RetryDelay(policy, c.retry, 0.5).count(), c.middle) << c.retry;
        EXPECT_EQ(RetryDelay(policy, c.retry, 1.0).count(), c.longest) << c.retry;
    }
    // A schedule of its own is capped by its own last step.
    ReconnectPolicy own;
    own.steps = {milliseconds(100), milliseconds(110)};
    EXPECT_EQ(RetryDelay(own, 1, 1.0).count(), 110);
    EXPECT_EQ(RetryDelay(own, 2, 0.0).count(), 88);
}

TEST(ReconnectPolicyTest, CountdownFillsTwoNumbersAndLeavesAnyOtherPercentAlone) {
    struct Case {
        const char* text;
        const char* shown;
    } cases[] = {
        {"Reconnecting in %d s (attempt %d)", "Reconnecting in 12 s (attempt 3)"},
        {"%d s", "12 s"},
        {"%s %n %d%% %d %d", "%s %n 12%% 3 %d"},  // a user's text never reaches printf
        {"no numbers", "no numbers"},
        {"trailing %", "trailing %"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatCountdown(QString::fromUtf8(c.text), 12, 3), QString::fromUtf8(c.shown));
    EXPECT_EQ(SecondsLeft(milliseconds(1200)), 1);
    EXPECT_EQ(SecondsLeft(milliseconds(800)), 1);
    EXPECT_EQ(SecondsLeft(milliseconds(1)), 1);
    EXPECT_EQ(SecondsLeft(milliseconds(0)), 0);
    EXPECT_EQ(SecondsLeft(milliseconds(29600)), 30);
}

}  // namespace
}  // namespace kavrel
