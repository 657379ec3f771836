// The pipeline under concurrent use from its threads: a receive thread adding
// frames (and announcing stream formats), a user-interface thread stopping,
// toggling full screen and asking for snapshots, the decode thread, and the
// snapshot worker's thread, whose slow writes no stop may wait for. Run under
// ThreadSanitizer.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <thread>

#include "tests/support/H264TestEncoder.h"
#include "tests/video/RecordingSink.h"
#include "tests/video/VideoTestSupport.h"
#include "video/ColourTables.h"
#include "video/SnapshotWorker.h"
#include "video/SnapshotWriter.h"
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

// --- Snapshots written off the decode thread ---

// A snapshot write the test holds open: the writer's hook says that it started
// and waits until the test opens it (or a minute passes, so that a fault fails
// the test instead of hanging it).
class WriteGate {
  public:
    void Hold() {
        std::unique_lock lock(m_mutex);
        ++m_started;
        m_changed.notify_all();
        m_changed.wait_for(lock, std::chrono::minutes(1), [this] { return m_open; });
    }
    bool WaitStarted(int count = 1) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(30),
                                  [&] { return m_started >= count; });
    }
    void Open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_started = 0;    // guarded by m_mutex
    bool m_open = false;  // guarded by m_mutex
};

// Runs `step` on a thread of its own; true when it returned within the
// deadline (a step that waits for what `gate` holds does not). Before returning
// either way it opens `gate` and waits for the step, so nothing is left running.
template <typename Step>
bool ReturnsWhileHeld(WriteGate& gate, Step step) {
    auto done = std::async(std::launch::async, step);
    const bool returned = done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    gate.Open();
    done.wait();
    return returned;
}

// The file must be the whole picture: the headers, then exactly the table
// conversion of the (lossless) picture.
void ExpectWholeFile(const std::string& path, const test::YuvPicture& picture) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    ColourTables tables;
    tables.Build();
    std::vector<uint8_t> rgb(3 * size_t(picture.width) * size_t(picture.height));
    ConvertToRgb(tables, picture.bytes.data(), rgb.data(), picture.width, picture.height);
    ASSERT_EQ(file.size(), kBmpHeaderBytes + rgb.size()) << path;
    const auto header = MakeBmpHeader(picture.width, picture.height);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin()));
    EXPECT_TRUE(std::equal(rgb.begin(), rgb.end(), file.begin() + kBmpHeaderBytes));
}

std::vector<std::filesystem::path> FilesIn(const QTemporaryDir& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path().toStdString()))
        files.push_back(entry.path());
    return files;
}

TEST(SnapshotOffTheDecodeThreadTest, StopReturnsWhileTheFileIsWrittenWhichArrivesWholeAndReported) {
    const auto stream = test::MakeLosslessStream(176, 144, 1, 1);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    test::RecordingSink sink;
    VideoPipeline pipeline(&sink);
    WriteGate gate;
    pipeline.Snapshots().SetFolder(folder.path().toStdString());
    pipeline.Snapshots().SetWriteHook([&] { gate.Hold(); });
    pipeline.StartDecoding(VideoFormat{176, 144});
    pipeline.RequestSnapshot();
    test::Feed(pipeline, stream.frames);
    ASSERT_TRUE(gate.WaitStarted());

    // Asked again while the file is written: served by that file. The stop
    // neither fails the snapshot nor drops it.
    pipeline.RequestSnapshot();
    bool reportedAtStop = true;
    EXPECT_TRUE(ReturnsWhileHeld(gate, [&] {
        pipeline.StopDecoding();
        reportedAtStop = !sink.Snapshots().empty();
    })) << "Stop waited for the snapshot's disk write";
    EXPECT_FALSE(reportedAtStop);
    ASSERT_TRUE(sink.WaitForSnapshots(1));
    const auto snapshot = sink.Snapshots()[0];
    EXPECT_TRUE(snapshot.ok);
    ExpectWholeFile(snapshot.path, stream.pictures[0]);
    EXPECT_EQ(FilesIn(folder).size(), 1u);
    EXPECT_FALSE(pipeline.SnapshotPending());
    EXPECT_EQ(pipeline.Counters().snapshotsWritten, 1u);
    EXPECT_EQ(pipeline.Counters().snapshotsFailed, 0u);
}

TEST(SnapshotOffTheDecodeThreadTest, APipelineDestroyedMidWriteHearsNothingAndTheFileIsFinished) {
    const auto stream = test::MakeLosslessStream(176, 144, 1, 1);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    auto worker = std::make_shared<SnapshotWorker>();
    WriteGate gate;
    worker->Writer().SetFolder(folder.path().toStdString());
    worker->Writer().SetWriteHook([&] { gate.Hold(); });
    test::RecordingSink sink;
    auto pipeline = std::make_unique<VideoPipeline>(&sink);
    pipeline->ShareSnapshotWorker(worker);
    pipeline->StartDecoding(VideoFormat{176, 144});
    pipeline->RequestSnapshot();
    test::Feed(*pipeline, stream.frames);
    ASSERT_TRUE(gate.WaitStarted());

    // A page turn destroys the tile: it must not wait for the shared worker,
    // and the worker must not report into the destroyed pipeline.
    EXPECT_TRUE(ReturnsWhileHeld(gate, [&] { pipeline.reset(); }));
    worker.reset();  // the last owner waits for the file: nothing is cut short
    EXPECT_TRUE(sink.Snapshots().empty());
    const auto files = FilesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    ExpectWholeFile(files[0].string(), stream.pictures[0]);
}

TEST(SnapshotWorkerTest, TheLastOwnerWritesEveryPictureHandedOverBeforeItGoes) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const test::YuvPicture picture = test::MakeNoisePicture(176, 144, 7);
    std::mutex mutex;
    std::vector<test::SinkSnapshot> outcomes;  // guarded by mutex
    auto worker = std::make_unique<SnapshotWorker>();
    worker->Writer().SetFolder(folder.path().toStdString());
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(worker->Submit(PackedPicture(picture.bytes.data(), 176, 144),
                                   [&](bool ok, const std::string& path) {
                                       std::lock_guard lock(mutex);
                                       outcomes.push_back({ok, path});
                                   }));
    }
    worker.reset();  // as at the end of the program
    ASSERT_EQ(outcomes.size(), 3u);
    for (const auto& outcome : outcomes) {
        EXPECT_TRUE(outcome.ok);
        ExpectWholeFile(outcome.path, picture);
    }
}

TEST(SnapshotWorkerTest, PicturesBeyondTheBoundAreRefusedButOneAloneIsAlwaysTaken) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const test::YuvPicture small = test::MakeNoisePicture(176, 144, 1);
    const test::YuvPicture large = test::MakeNoisePicture(352, 288, 2);
    WriteGate gate;
    SnapshotWorker worker(PlanarLayoutFor(176, 144).totalBytes * 3 / 2);
    worker.Writer().SetFolder(folder.path().toStdString());
    worker.Writer().SetWriteHook([&] { gate.Hold(); });
    std::atomic<int> written{0};
    const auto count = [&](bool ok, const std::string&) { written += ok ? 1 : 0; };

    ASSERT_TRUE(worker.Submit(PackedPicture(small.bytes.data(), 176, 144), count));
    ASSERT_TRUE(gate.WaitStarted());
    // The picture being written still counts: a disk that does not keep up
    // must not gather pictures without bound.
    EXPECT_FALSE(worker.Submit(PackedPicture(small.bytes.data(), 176, 144), count));
    EXPECT_EQ(worker.Pending(), 1u);
    gate.Open();
    ASSERT_TRUE(test::WaitUntil([&] { return worker.Pending() == 0; }));
    // Larger than the bound, but nothing waits.
    EXPECT_TRUE(worker.Submit(PackedPicture(large.bytes.data(), 352, 288), count));
    ASSERT_TRUE(test::WaitUntil([&] { return written == 2; }));
}

// A sink whose delivery the test holds, standing for a decode thread busy
// with the picture in hand.
class HeldSink : public test::RecordingSink {
  public:
    void OnPicture(const uint16_t* pixels, int width, int height) override {
        gate.Hold();
        RecordingSink::OnPicture(pixels, width, height);
    }
    WriteGate gate;
};

TEST(VideoPipelineThreadedTest, RequestStopDoesNotWaitAndEndsTheThreadAfterThePictureInHand) {
    const auto stream = test::MakeLosslessStream(176, 144, 2, 1);
    HeldSink sink;
    VideoPipeline pipeline(&sink);
    pipeline.StartDecoding(VideoFormat{176, 144});
    test::Feed(pipeline, stream.frames);
    ASSERT_TRUE(sink.gate.WaitStarted());
    EXPECT_TRUE(ReturnsWhileHeld(sink.gate, [&] { pipeline.RequestStop(); }));
    pipeline.StopDecoding();
    // The second frame was queued before the stop was asked: not decoded.
    EXPECT_EQ(pipeline.Counters().picturesDrawn, 1u);
    EXPECT_EQ(pipeline.Counters().framesDiscarded, 1u);
}

}  // namespace
}  // namespace kavrel
