// The back-off schedule and the count-down text.

#include <gtest/gtest.h>

#include "app/ReconnectPolicy.h"

namespace kavrel {
namespace {

using std::chrono::milliseconds;

TEST(ReconnectPolicyTest, WaitsGrowToTheLastStepWithinTheirJitter) {
    const ReconnectPolicy policy;
    const int expected[] = {1000, 2000, 4000, 8000, 15000, 30000, 30000, 30000};
    for (int retry = 1; retry <= 8; ++retry) {
        const int base = expected[retry - 1];
        EXPECT_EQ(RetryDelay(policy, retry, 0.5).count(), base) << retry;
        EXPECT_EQ(RetryDelay(policy, retry, 0.0).count(), base * 8 / 10) << retry;
        EXPECT_EQ(RetryDelay(policy, retry, 1.0).count(), base * 12 / 10) << retry;
    }
    EXPECT_EQ(RetryDelay(policy, 0, 0.5).count(), 1000);  // out of range: the first step
    EXPECT_EQ(RetryDelay(policy, 1000000, 0.5).count(), 30000);
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
