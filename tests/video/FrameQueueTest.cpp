// Frame records and the drop policy, directly on a queue.

#include "video/FrameQueue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace kavrel {
namespace {

// A queue of `count` frames whose payload is their position (one byte), with
// key frames at the given positions.
FrameQueue MakeQueue(int count, const std::set<int>& keyPositions) {
    FrameQueue queue;
    for (int i = 0; i < count; ++i) {
        const uint8_t payload = uint8_t(i);
        queue.push_back(MakeFrame(&payload, 1, keyPositions.count(i) ? 1 : 0));
    }
    return queue;
}

std::vector<int> Positions(const FrameQueue& queue) {
    std::vector<int> positions;
    for (const auto& frame : queue)
        positions.push_back(frame->bytes[0]);
    return positions;
}

std::vector<int> Range(int from, int to) {
    std::vector<int> values;
    for (int i = from; i < to; ++i)
        values.push_back(i);
    return values;
}

std::set<int> All(int count) {
    std::set<int> keys;
    for (int i = 0; i < count; ++i)
        keys.insert(i);
    return keys;
}

struct DropCase {
    std::string name;
    int count;
    std::set<int> keys;
    bool ran;
    std::vector<int> remaining;  // positions left, head first
};

class DropPolicyTest : public testing::TestWithParam<DropCase> {};

TEST_P(DropPolicyTest, LeavesTheExpectedFrames) {
    const DropCase& c = GetParam();
    FrameQueue queue = MakeQueue(c.count, c.keys);
    std::vector<std::unique_ptr<CFrame>> dropped;
    const DropPolicyResult result = ApplyDropPolicy(queue, &dropped);
    EXPECT_EQ(result.ran, c.ran);
    EXPECT_EQ(Positions(queue), c.remaining);
    EXPECT_EQ(result.dropped, c.count - int(c.remaining.size()));
    ASSERT_EQ(dropped.size(), size_t(result.dropped));
    for (size_t i = 0; i < dropped.size(); ++i)
        EXPECT_EQ(dropped[i]->bytes[0], i);  // head first
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DropPolicyTest,
    testing::Values(DropCase{"NineteenFramesNothingHappens", 19, {5}, false, Range(0, 19)},
                    DropCase{"TwentyWithoutKeyFrameNothingDropped", 20, {}, true, Range(0, 20)},
                    DropCase{"TwentyWithFirstKeyFourth", 20, {3}, true, Range(3, 20)},
                    DropCase{
                        "TwentyFiveWithKeysAtThreeAndFifteen", 25, {3, 15}, true, Range(15, 25)},
                    DropCase{"TwentyOneKeyFramesDropTheHeadOnly", 21, All(21), true, Range(1, 21)},
                    DropCase{"TwentyKeyFramesNothingDropped", 20, All(20), true, Range(0, 20)},
                    // One key frame only: step 5 needs two, so the queue stays long.
                    DropCase{"ThirtyWithOneKeyFrame", 30, {2}, true, Range(2, 30)},
                    // Step 5 skips one run only, even with more key frames behind it.
                    DropCase{"FortyWithKeysEveryTen", 40, {0, 10, 20, 30}, true, Range(10, 40)},
                    DropCase{"KeyAtTheTailOnly", 22, {21}, true, Range(21, 22)}),
    [](const testing::TestParamInfo<DropCase>& info) { return info.param.name; });

TEST(DropPolicyTest, ReleasesDroppedFramesWhenNotAskedForThem) {
    FrameQueue queue = MakeQueue(25, {3, 15});
    const DropPolicyResult result = ApplyDropPolicy(queue);
    EXPECT_EQ(result.dropped, 15);
    EXPECT_EQ(queue.size(), 10u);
}

TEST(DropPolicyTest, AQueueAboveTwentyLosesOneRunPerTake) {
    // Keys every 5 frames, 40 queued: each pass plus take removes a run.
    FrameQueue queue = MakeQueue(40, {0, 5, 10, 15, 20, 25, 30, 35});
    std::vector<size_t> sizes;
    while (queue.size() >= kDropPolicyThreshold) {
        ApplyDropPolicy(queue);
        sizes.push_back(queue.size());
        queue.pop_front();  // the take
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{35, 25, 20}));
}

TEST(MakeFrameTest, CopiesExactlyTheLengthAndPadsWithZeros) {
    // The source holds exactly `length` bytes: reading past them would be
    // caught by the address sanitizer.
    auto source = std::make_unique<uint8_t[]>(5);
    for (int i = 0; i < 5; ++i)
        source[i] = uint8_t(0xA0 + i);
    const auto frame = MakeFrame(source.get(), 5, 7);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->length, 5);
    EXPECT_EQ(frame->keyFrame, 1);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(frame->bytes[i], 0xA0 + i);
    for (size_t i = 5; i < 5 + kFramePadding; ++i)
        EXPECT_EQ(frame->bytes[i], 0) << i;
}

TEST(MakeFrameTest, NoBytesOrNoLengthGiveAnEmptyFrame) {
    const uint8_t byte = 1;
    for (const auto& frame :
         {MakeFrame(nullptr, 10, 0), MakeFrame(&byte, 0, 1), MakeFrame(&byte, -4, 0)}) {
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->bytes, nullptr);
        EXPECT_EQ(frame->length, 0);
    }
    EXPECT_EQ(MakeFrame(&byte, 0, 1)->keyFrame, 1);
    EXPECT_EQ(MakeFrame(&byte, 0, 0)->keyFrame, 0);
}

}  // namespace
}  // namespace kavrel
