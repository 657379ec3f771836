// The pipeline under concurrent use from its three threads: a
// receive thread adding frames (and announcing stream formats), a
// user-interface thread stopping, toggling full screen and asking for
// snapshots, and the decode thread. Run under ThreadSanitizer.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include "tests/support/H264TestEncoder.h"
#include "tests/video/RecordingSink.h"
#include "video/VideoPipeline.h"

namespace kavrel {
namespace {

std::vector<test::EncodedFrame> MakeFrames(int count, int gop) {
    std::vector<test::YuvPicture> pictures;
    for (int i = 0; i < count; ++i)
        pictures.push_back(test::MakeScenePicture(176, 144, i));
    test::EncoderOptions options;
    options.qp = -1;
    options.gopSize = gop;
    return test::EncodeSequence(options, pictures);
}

// Every frame that went in is accounted for exactly once.
void ExpectAllAccountedFor(const PipelineCounters& c) {
    EXPECT_EQ(c.framesAdded,
              c.framesDecoded + c.decodeFailures + c.framesDropped + c.framesDiscarded);
    EXPECT_EQ(c.framesRefused, 0u);
    EXPECT_EQ(c.picturesDrawn, c.framesDecoded);
}

TEST(VideoPipelineThreadedTest, ProducerAndDecodeThreadDrainTheQueue) {
    const auto frames = MakeFrames(50, 10);
    ASSERT_EQ(frames.size(), 50u);
    test::RecordingSink sink;
    VideoPipeline pipeline(&sink);
    pipeline.StartDecoding(VideoFormat{176, 144});

    std::thread producer([&] {
        for (int round = 0; round < 6; ++round) {
            for (const auto& frame : frames) {
                pipeline.AddFrame(frame.bytes.data(), int(frame.bytes.size()),
                                  frame.keyFrame ? 1 : 0);
            }
        }
    });
    producer.join();
    ASSERT_TRUE(test::WaitUntil([&] {
        const PipelineCounters c = pipeline.Counters();
        return c.framesDecoded + c.decodeFailures + c.framesDropped == 300;
    }));
    pipeline.StopDecoding();
    const PipelineCounters c = pipeline.Counters();
    ExpectAllAccountedFor(c);
    EXPECT_EQ(c.framesDiscarded, 0u);
    EXPECT_GT(c.framesDecoded, 0u);
}

TEST(VideoPipelineThreadedTest, StartStopSnapshotsAndFullScreenFromOtherThreads) {
    const auto frames = MakeFrames(30, 5);
    ASSERT_EQ(frames.size(), 30u);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    test::RecordingSink sink;
    VideoPipeline pipeline(&sink);
    pipeline.Snapshots().SetFolder(folder.path().toStdString());
    pipeline.StartDecoding(VideoFormat{176, 144});

    std::atomic<bool> done{false};
    // The receive thread: frames, and now and then a new stream format.
    std::thread receiver([&] {
        for (int round = 0; round < 10; ++round) {
            for (const auto& frame : frames) {
                pipeline.AddFrame(frame.bytes.data(), int(frame.bytes.size()),
                                  frame.keyFrame ? 1 : 0);
            }
            pipeline.StartDecoding(VideoFormat{176, 144});
        }
        done = true;
    });
    // The user-interface thread: channel changes, full screen, captures.
    int requests = 0;
    for (int step = 0; !done || step < 20; ++step) {
        pipeline.SetFullScreen(step % 2 == 0);
        if (step % 3 == 0) {
            pipeline.RequestSnapshot();
            ++requests;
        }
        if (step % 5 == 4) {
            pipeline.StopDecoding();
            pipeline.StartDecoding(VideoFormat{176, 144});
        }
        (void)pipeline.QueuedFrames();
        (void)pipeline.Counters();
        std::this_thread::yield();
    }
    receiver.join();
    pipeline.StopDecoding();

    ExpectAllAccountedFor(pipeline.Counters());
    const auto snapshots = sink.Snapshots();
    EXPECT_LE(snapshots.size(), size_t(requests));
    // Written whole, or dropped by a stop before any picture (no file named).
    for (const auto& snapshot : snapshots)
        EXPECT_TRUE(snapshot.ok || snapshot.path.empty()) << snapshot.path;
    for (const auto& picture : sink.Pictures()) {
        const bool upright = picture.width == 176 && picture.height == 144;
        const bool turned = picture.width == 144 && picture.height == 176;
        EXPECT_TRUE(upright || turned);
        EXPECT_EQ(picture.pixels.size(), 176u * 144u);
    }
}

}  // namespace
}  // namespace kavrel
