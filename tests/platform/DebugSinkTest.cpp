#include <gtest/gtest.h>

#include <thread>

#include "platform/DebugSink.h"
#include "tests/support/DebugCapture.h"

namespace kavrel {
namespace {

TEST(DebugSinkTest, CaptureSeesExactLinesAndRestoresPreviousSink) {
    std::vector<std::string> outer;
    SetDebugSink([&](std::string_view l) { outer.emplace_back(l); });
    {
        test::DebugCapture capture;
        DebugOutput("Play\n");
        DebugPrintf("Unknow command:%d\n", 202);
        EXPECT_EQ(capture.Lines(), (std::vector<std::string>{"Play\n", "Unknow command:202\n"}));
    }
    DebugOutput("after\n");
    SetDebugSink({});
    EXPECT_EQ(outer, std::vector<std::string>{"after\n"});
}

TEST(DebugSinkTest, LongFormattedLinesAreNotCut) {
    test::DebugCapture capture;
    const std::string longText(1000, 'x');
    DebugPrintf("%s\n", longText.c_str());
    ASSERT_EQ(capture.Lines().size(), 1u);
    EXPECT_EQ(capture.Lines()[0], longText + "\n");
}

TEST(DebugSinkTest, LinesFromManyThreadsArriveWhole) {
    test::DebugCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) DebugOutput("Decode succeed\n");
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(capture.Count("Decode succeed\n"), 800);
}

}  // namespace
}  // namespace kavrel
