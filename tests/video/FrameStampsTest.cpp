// Each picture leaves the decode thread with its frame's stamps (arrival,
// decode start and end, in that order), a redraw of an old picture carries
// none, and the counters the statistics sample add up: payload bytes, decode
// time, and the longest decode taken once.

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "tests/support/H264TestEncoder.h"
#include "tests/video/RecordingSink.h"
#include "tests/video/VideoTestSupport.h"
#include "video/VideoPipeline.h"

namespace kavrel {
namespace {

using std::chrono::milliseconds;

// Keeps the stamps the pipeline gives with each picture.
class StampingSink : public test::RecordingSink {
  public:
    void Watch(const VideoPipeline* pipeline) { m_pipeline = pipeline; }
    void OnPicture(const uint16_t* pixels, int width, int height) override {
        {
            std::lock_guard lock(m_mutex);
            m_stamps.push_back(m_pipeline->PictureStamps());
        }
        test::RecordingSink::OnPicture(pixels, width, height);
    }
    std::vector<FrameStamps> Stamps() const {
        std::lock_guard lock(m_mutex);
        return m_stamps;
    }

  private:
    const VideoPipeline* m_pipeline = nullptr;  // set before decoding starts
    mutable std::mutex m_mutex;
    std::vector<FrameStamps> m_stamps;  // guarded by m_mutex
};

TEST(FrameStampsTest, PicturesCarryTheirFramesStampsAndRedrawsCarryNone) {
    const auto stream = test::MakeLosslessStream(176, 144, 3, 1);
    StampingSink sink;
    VideoPipeline pipeline(&sink);
    sink.Watch(&pipeline);
    pipeline.StartDecoding(VideoFormat{176, 144});

    // Arrivals given by the receive side, distinct per frame.
    const auto base = FrameClock::now() - milliseconds(500);
    size_t bytes = 0;
    for (size_t i = 0; i < stream.frames.size(); ++i) {
        const auto& frame = stream.frames[i];
        pipeline.AddFrame(frame.bytes.data(), int(frame.bytes.size()), frame.keyFrame ? 1 : 0,
                          base + milliseconds(10 * int(i)));
        bytes += frame.bytes.size();
    }
    ASSERT_TRUE(sink.WaitForPictures(3));

    const std::vector<FrameStamps> stamps = sink.Stamps();
    ASSERT_EQ(stamps.size(), 3u);
    for (size_t i = 0; i < stamps.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(stamps[i].arrival, base + milliseconds(10 * int(i)));
        EXPECT_GE(stamps[i].decodeStart, stamps[i].arrival);
        EXPECT_GE(stamps[i].decodeEnd, stamps[i].decodeStart);
    }

    const PipelineCounters counters = pipeline.Counters();
    EXPECT_EQ(counters.bytesAdded, uint64_t(bytes));
    EXPECT_GT(counters.decodeNanoseconds, 0u);
    const auto longest = pipeline.TakeLongestDecode();
    EXPECT_GT(longest.count(), 0);
    EXPECT_LE(uint64_t(longest.count()), counters.decodeNanoseconds);
    EXPECT_EQ(pipeline.TakeLongestDecode().count(), 0);  // taken: nothing decoded since

    // The held picture again, for a new view: no frame of its own.
    PictureView half;
    half.width = 88;
    half.height = 72;
    pipeline.SetView(half);
    pipeline.Redraw();
    ASSERT_TRUE(sink.WaitForPictures(4));
    EXPECT_FALSE(sink.Stamps().back().Stamped());
    pipeline.StopDecoding();
}

TEST(FrameStampsTest, AFrameWithoutAnArrivalIsStampedWhenQueued) {
    const auto stream = test::MakeLosslessStream(176, 144, 1, 1);
    StampingSink sink;
    VideoPipeline pipeline(&sink);
    sink.Watch(&pipeline);
    pipeline.StartDecoding(VideoFormat{176, 144});
    const auto before = FrameClock::now();
    test::Feed(pipeline, stream.frames);
    ASSERT_TRUE(sink.WaitForPictures(1));
    EXPECT_GE(sink.Stamps().front().arrival, before);
    pipeline.StopDecoding();
}

}  // namespace
}  // namespace kavrel
