// What a tile's decoder leaves out: the loop filter for a tile shown at half
// size or less, and every non-key frame while its decoding is behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "tests/support/H264TestEncoder.h"
#include "tests/video/RecordingSink.h"
#include "video/DecodeSkipping.h"
#include "video/H264Decoder.h"
#include "video/VideoPipeline.h"

namespace kavrel {
namespace {

using std::chrono::milliseconds;
using Clock = BacklogGuard::Clock;

// `filtered`: coarse, and with the encoder's loop filter on (ultrafast has it
// off), so that leaving it out shows; such a stream is all key frames here.
std::vector<test::EncodedFrame> SceneFrames(int count, int gop, bool filtered = false) {
    std::vector<test::YuvPicture> pictures;
    for (int i = 0; i < count; ++i)
        pictures.push_back(test::MakeScenePicture(176, 144, i));
    test::EncoderOptions options;
    options.qp = filtered ? 36 : -1;
    if (filtered)
        options.preset = "veryfast";
    options.gopSize = gop;
    return test::EncodeSequence(options, pictures);
}

TEST(DecodeSkippingTest, HalfSizeRuleCountsTheZoomedPartAndTheTurn) {
    const ViewRect whole;
    const ViewRect half{kViewUnit / 4, kViewUnit / 4, kViewUnit / 2, kViewUnit / 2};
    struct Case {
        PictureSize shown;
        bool turned;
        ViewRect part;
        bool small;
    } const cases[] = {
        {{352, 288}, false, whole, true},   // exactly half
        {{176, 144}, false, whole, true},   // a quarter
        {{353, 288}, false, whole, false},  // one column more than half
        {{352, 289}, false, whole, false},  // one row more than half
        {{352, 576}, false, whole, false},  // half wide but full height
        {{704, 576}, false, whole, false},  // full size
        {{288, 352}, true, whole, true},    // turned: the screen's width is the picture's height
        {{352, 288}, true, whole, false},   // turned, too tall for half
        {{176, 144}, false, half, true},    // zoomed 2x, half of the part shown
        {{352, 288}, false, half, false},   // zoomed 2x: every source pixel shown 1:1
        {{0, 0}, false, whole, false},      // nothing shown yet
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ShownAtHalfOrLess(c.shown, c.turned, c.part, 704, 576), c.small)
            << c.shown.width << "x" << c.shown.height << " turned " << c.turned << " part "
            << c.part.width;
    }
    EXPECT_FALSE(ShownAtHalfOrLess({352, 288}, false, whole, 0, 0));
}

SkipOptions FastOptions() {
    SkipOptions options;
    options.dropsToEnter = 2;
    options.dropWindow = milliseconds(1000);
    options.stuckToEnter = milliseconds(1000);
    options.firstHold = milliseconds(100);
    options.maxHold = milliseconds(400);
    options.relapseWindow = milliseconds(1000);
    return options;
}

const DropPolicyResult kDrop{true, 10};
const DropPolicyResult kFull{true, 0};  // at the threshold, nothing to cut back to
const DropPolicyResult kCalm{false, 0};

TEST(DecodeSkippingTest, GuardEntersOnRepeatedDropsOrALastingBacklogOnly) {
    const Clock::time_point t0{};
    {
        BacklogGuard guard(FastOptions());
        EXPECT_FALSE(guard.AfterPolicy(t0, kDrop));  // one drop is not "keeps dropping"
        EXPECT_FALSE(guard.AfterPolicy(t0 + milliseconds(700), kCalm));
        EXPECT_FALSE(guard.AfterPolicy(t0 + milliseconds(1500), kDrop));  // too far apart
        EXPECT_TRUE(guard.AfterPolicy(t0 + milliseconds(2000), kDrop));
        EXPECT_TRUE(guard.KeyFramesOnly());
    }
    {
        BacklogGuard guard(FastOptions());
        EXPECT_FALSE(guard.AfterPolicy(t0, kFull));
        EXPECT_FALSE(guard.AfterPolicy(t0 + milliseconds(900), kFull));
        EXPECT_TRUE(guard.AfterPolicy(t0 + milliseconds(1000), kFull));
    }
    {
        BacklogGuard guard(FastOptions());  // a calm take ends the backlog's run
        EXPECT_FALSE(guard.AfterPolicy(t0, kFull));
        EXPECT_FALSE(guard.AfterPolicy(t0 + milliseconds(500), kCalm));
        EXPECT_FALSE(guard.AfterPolicy(t0 + milliseconds(1000), kFull));
        EXPECT_FALSE(guard.AfterPolicy(t0 + milliseconds(1900), kFull));
    }
    {
        SkipOptions off = FastOptions();
        off.keyFramesWhenBehind = false;
        BacklogGuard guard(off);
        EXPECT_FALSE(guard.AfterPolicy(t0, kDrop));
        EXPECT_FALSE(guard.AfterPolicy(t0 + milliseconds(1), kDrop));
    }
}

TEST(DecodeSkippingTest, GuardHoldsThenResumesAndBacksOffOnRelapse) {
    BacklogGuard guard(FastOptions());
    Clock::time_point now{};
    auto enter = [&] {
        guard.AfterPolicy(now, kDrop);
        return guard.AfterPolicy(now + milliseconds(1), kDrop);
    };
    ASSERT_TRUE(enter());
    EXPECT_EQ(guard.Hold(), milliseconds(100));
    EXPECT_FALSE(guard.AtKeyFrame(now + milliseconds(99), 0));   // within the hold
    EXPECT_FALSE(guard.AtKeyFrame(now + milliseconds(150), 5));  // still a backlog
    EXPECT_TRUE(guard.AtKeyFrame(now + milliseconds(150), 4));
    EXPECT_FALSE(guard.KeyFramesOnly());

    // Falling behind again soon after doubles the hold, up to the cap.
    now += milliseconds(300);
    ASSERT_TRUE(enter());
    EXPECT_EQ(guard.Hold(), milliseconds(200));
    EXPECT_FALSE(guard.AtKeyFrame(now + milliseconds(150), 0));
    ASSERT_TRUE(guard.AtKeyFrame(now + milliseconds(250), 0));
    for (int i = 0; i < 3; ++i) {
        now += milliseconds(500);
        ASSERT_TRUE(enter());
        ASSERT_TRUE(guard.AtKeyFrame(now + milliseconds(500), 0));
    }
    EXPECT_EQ(guard.Hold(), milliseconds(400));

    // Keeping up longer than the relapse window starts afresh.
    now += milliseconds(3000);
    ASSERT_TRUE(enter());
    EXPECT_EQ(guard.Hold(), milliseconds(100));
}

// Pictures of one stream decoded with the given skipping, as raw bytes; an
// empty entry for a frame that gave no picture.
std::vector<std::vector<uint8_t>> DecodeAll(const std::vector<test::EncodedFrame>& frames,
                                            DecoderSkipping skipping) {
    DecoderPtr decoder = OpenDecoder();
    EXPECT_TRUE(decoder);
    std::vector<std::vector<uint8_t>> out;
    if (!decoder)
        return out;
    SetSkipping(*decoder, skipping);
    for (const auto& frame : frames) {
        std::vector<uint8_t> picture(176 * 144 * 3 / 2);
        int width = 0, height = 0;
        const DecodeStatus status =
            DecodeFrame(*decoder, frame.bytes.data(), int(frame.bytes.size()), picture.data(),
                        picture.size(), &width, &height);
        if (status != DecodeStatus::kPicture)
            picture.clear();
        out.push_back(std::move(picture));
    }
    return out;
}

TEST(DecodeSkippingTest, DecoderLeavesOutTheLoopFilterAndNonKeyFrames) {
    const auto filtered = SceneFrames(1, 5, true);
    ASSERT_EQ(filtered.size(), 1u);
    const auto withFilter = DecodeAll(filtered, {});
    const auto unfiltered = DecodeAll(filtered, DecoderSkipping{true, false});
    ASSERT_FALSE(withFilter[0].empty());
    ASSERT_FALSE(unfiltered[0].empty());
    EXPECT_NE(withFilter[0], unfiltered[0]) << "the loop filter was not left out";

    const auto frames = SceneFrames(10, 5);
    ASSERT_EQ(frames.size(), 10u);
    ASSERT_EQ(std::count_if(frames.begin(), frames.end(), [](auto& f) { return f.keyFrame; }), 2);
    const auto full = DecodeAll(frames, {});
    const auto keys = DecodeAll(frames, DecoderSkipping{false, true});
    ASSERT_EQ(full.size(), 10u);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_FALSE(full[i].empty());
        EXPECT_EQ(keys[i].empty(), !frames[i].keyFrame) << "frame " << i;
        if (frames[i].keyFrame) {
            EXPECT_EQ(keys[i], full[i]) << "a key frame decodes as ever";
        }
    }
}

TEST(DecodeSkippingTest, PipelineSkipsTheLoopFilterForASmallViewOnly) {
    const auto frames = SceneFrames(4, 50);
    test::RecordingSink sink;
    VideoPipeline pipeline(&sink);
    pipeline.StartDecoding(VideoFormat{176, 144});
    size_t shown = 0;
    auto showWith = [&](const PictureView& view) {
        pipeline.SetView(view);
        const auto& frame = frames[shown % frames.size()];
        pipeline.AddFrame(frame.bytes.data(), int(frame.bytes.size()), frame.keyFrame ? 1 : 0);
        EXPECT_TRUE(sink.WaitForPictures(++shown));
        return pipeline.LoopFilterSkipped();
    };
    EXPECT_TRUE(showWith(PictureView{88, 72, false, false, {}}));
    EXPECT_FALSE(showWith(PictureView{176, 144, false, false, {}}));  // grown
    EXPECT_TRUE(showWith(PictureView{80, 72, false, false, {}}));
    const ViewRect zoomed{kViewUnit / 4, kViewUnit / 4, kViewUnit / 2, kViewUnit / 2};
    EXPECT_FALSE(showWith(PictureView{88, 72, false, false, zoomed}));
    pipeline.StopDecoding();
    EXPECT_FALSE(pipeline.LoopFilterSkipped());
}

// Under an injected overload the queue backs up, the pipeline falls back to
// key frames only (throwing the queued non-key frames away at once), and it
// decodes every frame again once the overload is gone.
TEST(DecodeSkippingTest, PipelineDecodesKeyFramesOnlyWhileOverloaded) {
    const auto frames = SceneFrames(60, 10);
    ASSERT_EQ(frames.size(), 60u);
    ASSERT_EQ(std::count_if(frames.begin(), frames.end(), [](auto& f) { return f.keyFrame; }), 6);
    test::RecordingSink sink;
    VideoPipeline pipeline(&sink);
    SkipOptions options = FastOptions();
    options.dropWindow = milliseconds(60000);  // not at the mercy of a slow machine
    pipeline.SetSkipOptions(options);
    pipeline.SetDecodeOverload(std::chrono::microseconds(20000));
    pipeline.StartDecoding(VideoFormat{176, 144});
    auto addAll = [&] {
        for (const auto& frame : frames)
            pipeline.AddFrame(frame.bytes.data(), int(frame.bytes.size()), frame.keyFrame ? 1 : 0);
    };
    // One GOP at a time once the queue is empty: a stream it keeps up with.
    size_t next = 0;
    auto feedWhenDrained = [&] {
        if (pipeline.QueuedFrames() != 0)
            return;
        for (int i = 0; i < 10; ++i, ++next) {
            const auto& frame = frames[next % frames.size()];
            pipeline.AddFrame(frame.bytes.data(), int(frame.bytes.size()), frame.keyFrame ? 1 : 0);
        }
    };

    addAll();  // 60 frames at once: the drop policy cuts a GOP at each take
    ASSERT_TRUE(test::WaitUntil([&] { return pipeline.KeyFramesOnly(); }));
    ASSERT_TRUE(test::WaitUntil([&] {
        const PipelineCounters c = pipeline.Counters();
        return c.framesAdded == c.framesDecoded + c.decodeFailures + c.framesDropped;
    }));
    PipelineCounters c = pipeline.Counters();
    EXPECT_GT(c.framesSkipped, 0u);
    // Only key frames were decoded once it fell back: far fewer than 60.
    EXPECT_LT(c.framesDecoded, 30u);
    EXPECT_EQ(c.framesAdded, c.framesDecoded + c.decodeFailures + c.framesDropped);

    pipeline.SetDecodeOverload(std::chrono::microseconds(0));
    const uint64_t decodedBefore = c.framesDecoded;
    ASSERT_TRUE(test::WaitUntil([&] {
        feedWhenDrained();
        return !pipeline.KeyFramesOnly();
    }));
    // Back to full decoding, which holds while it keeps up.
    const size_t resumedAt = next;
    ASSERT_TRUE(test::WaitUntil([&] {
        if (next < resumedAt + 60)
            feedWhenDrained();
        return next >= resumedAt + 60 && pipeline.QueuedFrames() == 0;
    }));
    c = pipeline.Counters();
    EXPECT_FALSE(pipeline.KeyFramesOnly());
    EXPECT_GE(c.framesDecoded - decodedBefore, 50u);
    EXPECT_EQ(c.decodeFailures, 0u);
    pipeline.StopDecoding();
    EXPECT_FALSE(pipeline.KeyFramesOnly());
}

}  // namespace
}  // namespace kavrel
