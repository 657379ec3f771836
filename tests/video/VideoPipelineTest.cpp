// The pipeline with real H.264: queue, decode thread, conversion, delivery,
// debug lines, snapshots and the limits that protect memory.

#include "video/VideoPipeline.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>

#include "tests/support/DebugCapture.h"
#include "tests/support/H264TestEncoder.h"
#include "tests/video/RecordingSink.h"
#include "tests/video/VideoTestSupport.h"
#include "video/PictureTransform.h"

namespace kavrel {
namespace {

using test::Feed;
using test::RecordingSink;

using test::MakeLosslessStream;
using test::ReferenceScreen;

class VideoPipelineTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }
    std::filesystem::path Folder() const { return m_folder.path().toStdString(); }

    QTemporaryDir m_folder;
    test::DebugCapture m_debug;
    RecordingSink m_sink;
};

TEST_F(VideoPipelineTest, DecodesAndDeliversExactTopDownPictures) {
    const auto stream = MakeLosslessStream(176, 144, 4, 2);
    ASSERT_EQ(stream.frames.size(), 4u);
    VideoPipeline pipeline(&m_sink);
    pipeline.StartDecoding(VideoFormat{176, 144});
    Feed(pipeline, stream.frames);
    ASSERT_TRUE(m_sink.WaitForPictures(4));
    pipeline.StopDecoding();

    const auto pictures = m_sink.Pictures();
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(pictures[i].width, 176);
        EXPECT_EQ(pictures[i].height, 144);
        EXPECT_EQ(pictures[i].pixels, ReferenceScreen(stream.pictures[i])) << "picture " << i;
    }
    EXPECT_EQ(m_debug.Count("Decode succeed\n"), 4);
    EXPECT_EQ(m_debug.Count("Decode failed\n"), 0);
    const PipelineCounters counters = pipeline.Counters();
    EXPECT_EQ(counters.framesAdded, 4u);
    EXPECT_EQ(counters.framesDecoded, 4u);
    EXPECT_EQ(counters.picturesDrawn, 4u);
    EXPECT_EQ(counters.bufferBytes, 0u);  // freed by StopDecoding
}

TEST_F(VideoPipelineTest, FullScreenDeliversThePictureTurnedClockwise) {
    const auto stream = MakeLosslessStream(176, 144, 1, 1);
    VideoPipeline pipeline(&m_sink);
    pipeline.SetFullScreen(true);
    EXPECT_TRUE(pipeline.IsFullScreen());
    pipeline.StartDecoding(VideoFormat{176, 144});
    Feed(pipeline, stream.frames);
    ASSERT_TRUE(m_sink.WaitForPictures(1));
    pipeline.StopDecoding();

    const auto picture = m_sink.Pictures()[0];
    ASSERT_EQ(picture.width, 144);
    ASSERT_EQ(picture.height, 176);
    const std::vector<uint16_t> upright = ReferenceScreen(stream.pictures[0]);
    // The top-left pixel lands at the top-right corner, the bottom-left at the top-left.
    EXPECT_EQ(picture.pixels[143], upright[0]);
    EXPECT_EQ(picture.pixels[0], upright[143 * 176]);
    std::vector<uint16_t> turned(upright.size());
    RotateClockwise(upright.data(), turned.data(), 176, 144);
    EXPECT_EQ(picture.pixels, turned);
}

TEST_F(VideoPipelineTest, PictureLargerThanAnnouncedGrowsTheBuffersAndIsShown) {
    const auto stream = MakeLosslessStream(352, 288, 2, 1);
    VideoPipeline pipeline(&m_sink);
    pipeline.RequestSnapshot();
    pipeline.Snapshots().SetFolder(Folder());
    pipeline.StartDecoding(VideoFormat{16, 16});
    Feed(pipeline, stream.frames);
    ASSERT_TRUE(m_sink.WaitForPictures(2));
    ASSERT_TRUE(m_sink.WaitForSnapshots(1));
    pipeline.StopDecoding();

    const auto pictures = m_sink.Pictures();
    EXPECT_EQ(pictures[0].width, 352);
    EXPECT_EQ(pictures[0].height, 288);
    EXPECT_EQ(pictures[1].pixels, ReferenceScreen(stream.pictures[1]));
    EXPECT_TRUE(m_sink.Snapshots()[0].ok);
    EXPECT_EQ(std::filesystem::file_size(m_sink.Snapshots()[0].path), 54u + 3u * 352u * 288u);
}

TEST_F(VideoPipelineTest, AnHugeAnnouncementReservesOnlyTheCap) {
    const auto stream = MakeLosslessStream(176, 144, 1, 1);
    VideoPipeline pipeline(&m_sink);
    pipeline.StartDecoding(VideoFormat{65535, 65535});
    const uint64_t reserved = pipeline.Counters().bufferBytes;
    const PipelineLimits limits;
    EXPECT_GT(reserved, 0u);
    EXPECT_LE(reserved, limits.maxReservedPixels * 7 / 2);  // 1.5 planar + 2 screen
    Feed(pipeline, stream.frames);
    ASSERT_TRUE(m_sink.WaitForPictures(1));
    EXPECT_EQ(m_sink.Pictures()[0].pixels, ReferenceScreen(stream.pictures[0]));
    EXPECT_EQ(pipeline.Counters().bufferBytes, reserved);  // a smaller picture needs no more
}

TEST_F(VideoPipelineTest, PictureAboveThePixelLimitCountsAsFailed) {
    const auto stream = MakeLosslessStream(176, 144, 1, 1);
    PipelineLimits limits;
    limits.maxPicturePixels = 100 * 100;
    VideoPipeline pipeline(&m_sink, limits);
    pipeline.StartDecoding(VideoFormat{16, 16});
    Feed(pipeline, stream.frames);
    ASSERT_TRUE(test::WaitUntil([&] { return pipeline.Counters().decodeFailures == 1; }));
    EXPECT_EQ(m_debug.Count("Decode failed\n"), 1);
    EXPECT_TRUE(m_sink.Pictures().empty());
}

TEST_F(VideoPipelineTest, GarbageFailsToDecodeAndTheNextKeyFrameIsShown) {
    const auto stream = MakeLosslessStream(176, 144, 1, 1);
    VideoPipeline pipeline(&m_sink);
    pipeline.StartDecoding(VideoFormat{176, 144});
    const std::vector<uint8_t> garbage(500, 0xA7);
    pipeline.AddFrame(garbage.data(), int(garbage.size()), 1);
    pipeline.AddFrame(nullptr, 100, 0);  // no bytes: an empty frame
    Feed(pipeline, stream.frames);
    ASSERT_TRUE(m_sink.WaitForPictures(1));
    pipeline.StopDecoding();
    EXPECT_EQ(m_debug.Lines(),
              (std::vector<std::string>{"Decode failed\n", "Decode failed\n", "Decode succeed\n"}));
    EXPECT_EQ(m_sink.Pictures()[0].pixels, ReferenceScreen(stream.pictures[0]));
}

TEST_F(VideoPipelineTest, AStreamInFullChromaIsShownNotFailed) {
    // Four flat quadrants; a 4:4:4 stream of them is brought to 4:2:0 first.
    test::YuvPicture picture = test::YuvPicture::Blank(176, 144);
    const uint8_t levels[4][3] = {{60, 90, 200}, {150, 40, 120}, {200, 180, 60}, {100, 128, 128}};
    for (int y = 0; y < 144; ++y) {
        for (int x = 0; x < 176; ++x) {
            const int quadrant = (y < 72 ? 0 : 2) + (x < 88 ? 0 : 1);
            picture.Y()[y * 176 + x] = levels[quadrant][0];
            if (x % 2 == 0 && y % 2 == 0) {
                picture.U()[(y / 2) * 88 + x / 2] = levels[quadrant][1];
                picture.V()[(y / 2) * 88 + x / 2] = levels[quadrant][2];
            }
        }
    }
    test::EncoderOptions options;
    options.fullChroma = true;
    const auto frames = test::EncodeSequence(options, {picture, picture});
    ASSERT_EQ(frames.size(), 2u);
    VideoPipeline pipeline(&m_sink);
    pipeline.StartDecoding(VideoFormat{176, 144});
    Feed(pipeline, frames);
    ASSERT_TRUE(m_sink.WaitForPictures(2));
    pipeline.StopDecoding();
    EXPECT_EQ(m_debug.Count("Decode failed\n"), 0);
    // Away from the quadrants' borders every pixel is the 4:2:0 picture's.
    const std::vector<uint16_t> expected = ReferenceScreen(picture);
    const std::vector<uint16_t> shown = m_sink.Pictures()[1].pixels;
    for (int y : {10, 60, 90, 130}) {
        for (int x : {10, 80, 100, 170})
            EXPECT_EQ(shown[size_t(y) * 176 + x], expected[size_t(y) * 176 + x]) << x << "," << y;
    }
}

TEST_F(VideoPipelineTest, DecoderThatCannotOpenFailsEveryFrameButKeepsTheThread) {
    const auto stream = MakeLosslessStream(176, 144, 2, 1);
    VideoPipeline pipeline(&m_sink);
    pipeline.SetFaultInjection({.failOpenDecoder = true});
    pipeline.StartDecoding(VideoFormat{176, 144});
    EXPECT_TRUE(pipeline.IsDecoding());
    Feed(pipeline, stream.frames);
    ASSERT_TRUE(test::WaitUntil([&] { return pipeline.Counters().decodeFailures == 2; }));
    EXPECT_EQ(m_debug.Count("Init codec failed\n"), 1);
    EXPECT_EQ(m_debug.Count("Decode failed\n"), 2);
    EXPECT_EQ(pipeline.QueuedFrames(), 0u);

    // The next start opens a decoder again.
    pipeline.SetFaultInjection({});
    pipeline.StartDecoding(VideoFormat{176, 144});
    Feed(pipeline, stream.frames);
    ASSERT_TRUE(m_sink.WaitForPictures(2));
}

TEST_F(VideoPipelineTest, ThreadThatCannotStartLeavesFramesQueuedUntilTheNextStart) {
    const auto stream = MakeLosslessStream(176, 144, 3, 1);
    VideoPipeline pipeline(&m_sink);
    pipeline.SetFaultInjection({.failCreateThread = true});
    pipeline.StartDecoding(VideoFormat{176, 144});
    EXPECT_EQ(m_debug.Count("Create decode thread failed\n"), 1);
    EXPECT_FALSE(pipeline.IsDecoding());
    Feed(pipeline, stream.frames);
    EXPECT_EQ(pipeline.QueuedFrames(), 3u);

    // A restart keeps the queued frames: the new decoder starts with them.
    pipeline.SetFaultInjection({});
    pipeline.StartDecoding(VideoFormat{176, 144});
    ASSERT_TRUE(m_sink.WaitForPictures(3));
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(m_sink.Pictures()[i].pixels, ReferenceScreen(stream.pictures[i]));
    }
}

TEST_F(VideoPipelineTest, StopDecodingReleasesEveryQueuedFrame) {
    const auto stream = MakeLosslessStream(176, 144, 15, 1);
    VideoPipeline pipeline(&m_sink);
    Feed(pipeline, stream.frames);  // idle: nobody takes them
    EXPECT_EQ(pipeline.QueuedFrames(), 15u);
    pipeline.StopDecoding();
    EXPECT_EQ(pipeline.QueuedFrames(), 0u);
    EXPECT_EQ(pipeline.Counters().framesDiscarded, 15u);

    // A later start begins with an empty queue.
    pipeline.StartDecoding(VideoFormat{176, 144});
    pipeline.StopDecoding();
    EXPECT_EQ(pipeline.Counters().framesDecoded + pipeline.Counters().decodeFailures, 0u);
    EXPECT_TRUE(m_sink.Pictures().empty());
}

TEST_F(VideoPipelineTest, RestartWhileDecodingAccountsForEveryFrame) {
    const auto stream = MakeLosslessStream(176, 144, 12, 1);
    VideoPipeline pipeline(&m_sink);
    pipeline.StartDecoding(VideoFormat{176, 144});
    Feed(pipeline, stream.frames, 0, 6);
    pipeline.StartDecoding(VideoFormat{176, 144});
    Feed(pipeline, stream.frames, 6);
    // Every frame is a key frame, so each one decodes whichever decoder takes it.
    ASSERT_TRUE(m_sink.WaitForPictures(12));
    EXPECT_EQ(pipeline.Counters().framesDecoded, 12u);
}

TEST_F(VideoPipelineTest, DropPolicySkipsToTheNewestRunOfFramesBeforeDecoding) {
    // Key frames in the stream at 0 and 15; the server marks 3 and 15.
    const auto stream = MakeLosslessStream(176, 144, 25, 15);
    ASSERT_EQ(stream.frames.size(), 25u);
    ASSERT_TRUE(stream.frames[15].keyFrame);
    VideoPipeline pipeline(&m_sink);
    for (size_t i = 0; i < 25; ++i) {
        const auto& bytes = stream.frames[i].bytes;
        pipeline.AddFrame(bytes.data(), int(bytes.size()), (i == 3 || i == 15) ? 1 : 0);
    }
    pipeline.StartDecoding(VideoFormat{176, 144});
    ASSERT_TRUE(m_sink.WaitForPictures(10));
    pipeline.StopDecoding();

    EXPECT_EQ(m_debug.Count("Drop frame\n"), 1);
    EXPECT_EQ(pipeline.Counters().framesDropped, 15u);
    const auto pictures = m_sink.Pictures();
    ASSERT_EQ(pictures.size(), 10u);
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(pictures[i].pixels, ReferenceScreen(stream.pictures[15 + i])) << "picture " << i;
    }
}

TEST_F(VideoPipelineTest, QueueLimitsRefuseFramesInsteadOfGrowingWithoutBound) {
    PipelineLimits limits;
    limits.maxQueuedFrames = 5;
    limits.maxQueuedBytes = 1000;
    VideoPipeline pipeline(&m_sink, limits);
    const std::vector<uint8_t> frame(300, 1);
    for (int i = 0; i < 4; ++i)
        pipeline.AddFrame(frame.data(), int(frame.size()), 0);
    EXPECT_EQ(pipeline.QueuedFrames(), 3u);  // the fourth would pass 1000 bytes
    for (int i = 0; i < 3; ++i)
        pipeline.AddFrame(frame.data(), 10, 0);
    EXPECT_EQ(pipeline.QueuedFrames(), 5u);  // a sixth would pass 5 frames
    const PipelineCounters counters = pipeline.Counters();
    EXPECT_EQ(counters.framesAdded, 5u);
    EXPECT_EQ(counters.framesRefused, 2u);
}

TEST_F(VideoPipelineTest, SnapshotIsWrittenFromTheNextDecodedPictureAndReported) {
    const auto stream = MakeLosslessStream(176, 144, 2, 1);
    VideoPipeline pipeline(&m_sink);
    pipeline.Snapshots().SetFolder(Folder());
    pipeline.StartDecoding(VideoFormat{176, 144});
    pipeline.RequestSnapshot();
    EXPECT_TRUE(pipeline.SnapshotPending());

    // A failing frame leaves the request pending.
    const std::vector<uint8_t> garbage(64, 0x42);
    pipeline.AddFrame(garbage.data(), int(garbage.size()), 0);
    ASSERT_TRUE(test::WaitUntil([&] { return pipeline.Counters().decodeFailures == 1; }));
    EXPECT_TRUE(pipeline.SnapshotPending());

    Feed(pipeline, stream.frames, 0, 1);
    ASSERT_TRUE(m_sink.WaitForSnapshots(1));
    EXPECT_FALSE(pipeline.SnapshotPending());
    const auto snapshot = m_sink.Snapshots()[0];
    EXPECT_TRUE(snapshot.ok);
    EXPECT_EQ(std::filesystem::path(snapshot.path).parent_path(), Folder());
    EXPECT_EQ(std::filesystem::file_size(snapshot.path), 54u + 3u * 176u * 144u);
    EXPECT_EQ(pipeline.Counters().snapshotsWritten, 1u);

    // Only one file per request.
    Feed(pipeline, stream.frames, 1);
    ASSERT_TRUE(m_sink.WaitForPictures(2));
    EXPECT_EQ(m_sink.Snapshots().size(), 1u);
}

TEST_F(VideoPipelineTest, SnapshotThatCannotBeWrittenIsReportedAsFailure) {
    const auto stream = MakeLosslessStream(176, 144, 1, 1);
    VideoPipeline pipeline(&m_sink);
    pipeline.Snapshots().SetFolder(Folder() / "missing");
    pipeline.RequestSnapshot();
    pipeline.StartDecoding(VideoFormat{176, 144});
    Feed(pipeline, stream.frames);
    ASSERT_TRUE(m_sink.WaitForSnapshots(1));
    EXPECT_FALSE(m_sink.Snapshots()[0].ok);
    EXPECT_FALSE(pipeline.SnapshotPending());  // cleared all the same
    EXPECT_EQ(pipeline.Counters().snapshotsFailed, 1u);
    EXPECT_FALSE(std::filesystem::exists(Folder() / "missing"));  // not created
}

TEST_F(VideoPipelineTest, PendingSnapshotFailsAtAStopInsteadOfServingTheNextStream) {
    const auto stream = MakeLosslessStream(176, 144, 1, 1);
    VideoPipeline pipeline(&m_sink);
    pipeline.Snapshots().SetFolder(Folder());
    pipeline.RequestSnapshot();
    pipeline.StartDecoding(VideoFormat{176, 144});
    pipeline.StopDecoding();
    EXPECT_FALSE(pipeline.SnapshotPending());
    ASSERT_EQ(m_sink.Snapshots().size(), 1u);
    EXPECT_FALSE(m_sink.Snapshots()[0].ok);

    // The next stream (another channel, minutes later) writes no file.
    pipeline.StartDecoding(VideoFormat{176, 144});
    Feed(pipeline, stream.frames);
    ASSERT_TRUE(m_sink.WaitForPictures(1));
    pipeline.StopDecoding();
    EXPECT_EQ(m_sink.Snapshots().size(), 1u);
    EXPECT_EQ(pipeline.Counters().snapshotsWritten, 0u);
}

TEST_F(VideoPipelineTest, PauseAfterPictureIsCutShortByAStop) {
    const auto stream = MakeLosslessStream(176, 144, 2, 1);
    VideoPipeline pipeline(&m_sink);
    pipeline.SetPauseAfterPicture(std::chrono::hours(1));
    pipeline.StartDecoding(VideoFormat{176, 144});
    Feed(pipeline, stream.frames);
    ASSERT_TRUE(m_sink.WaitForPictures(1));
    // The thread now waits an hour unless the stop wakes it; the test would time out.
    pipeline.StopDecoding();
    EXPECT_EQ(m_sink.Pictures().size(), 1u);
    EXPECT_EQ(pipeline.Counters().framesDiscarded, 1u);
}

}  // namespace
}  // namespace kavrel
