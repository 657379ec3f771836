// The recorder against real H.264 (libx264 at run time), checked with the
// players' own tools: what ffprobe and ffmpeg read from the files it leaves,
// after a whole recording, a size change, bad frames, a full queue, a folder
// that cannot be made and a full disk.

#include "record/ClipRecorder.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>

#include "tests/record/ClipProbe.h"
#include "tests/support/H264TestEncoder.h"

namespace kavrel::record {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Kind = RecorderReport::Kind;

constexpr auto kFrameInterval = 40ms;  // 25 frames a second

SharedFrameBytes Bytes(const test::EncodedFrame& frame) {
    return CopyFrameBytes(frame.bytes.data(), int(frame.bytes.size()));
}

std::vector<test::EncodedFrame> Encode(int width, int height, int count, int gop,
                                       int firstIndex = 0) {
    test::EncoderOptions options;
    options.width = width;
    options.height = height;
    options.qp = -1;
    options.gopSize = gop;
    std::vector<test::YuvPicture> pictures;
    for (int index = 0; index < count; ++index)
        pictures.push_back(test::MakeScenePicture(width, height, firstIndex + index));
    return test::EncodeSequence(options, pictures);
}

// Every report of a recorder, in order, for the test's thread to wait on.
class ReportLog {
  public:
    // While held, the writer waits in its FileStarted report.
    void HoldFileStart() { m_hold = true; }
    void ReleaseFileStart() {
        std::lock_guard lock(m_mutex);
        m_hold = false;
        m_changed.notify_all();
    }
    ClipRecorder::Listener Listener() {
        return [this](const RecorderReport& report) {
            std::unique_lock lock(m_mutex);
            m_reports.push_back(report);
            m_changed.notify_all();
            if (report.kind == Kind::FileStarted)
                m_changed.wait(lock, [this] { return !m_hold; });
        };
    }
    // Waits (with a deadline) for `count` reports of `kind`.
    bool WaitFor(Kind kind, int count = 1) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 30s, [&] { return CountLocked(kind) >= count; });
    }
    int Count(Kind kind) {
        std::lock_guard lock(m_mutex);
        return CountLocked(kind);
    }
    std::vector<RecorderReport> Of(Kind kind) {
        std::lock_guard lock(m_mutex);
        std::vector<RecorderReport> found;
        for (const RecorderReport& report : m_reports) {
            if (report.kind == kind)
                found.push_back(report);
        }
        return found;
    }

  private:
    int CountLocked(Kind kind) const {
        return int(std::count_if(m_reports.begin(), m_reports.end(),
                                 [kind](const RecorderReport& r) { return r.kind == kind; }));
    }
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<RecorderReport> m_reports;  // guarded by m_mutex
    bool m_hold = false;                    // guarded by m_mutex (set before the writer runs)
};

class ClipRecorderTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test::ClipToolsPresent()) << "ffprobe and ffmpeg are needed (package ffmpeg)";
        ASSERT_TRUE(m_folder.isValid());
    }
    RecorderOptions Options() const {
        RecorderOptions options;
        options.folder = fs::path(m_folder.path().toStdString()) / "Videos";
        options.namePrefix = "127.0.0.1_ch1";
        return options;
    }
    // Pushes `frames`, the first arriving at m_next, each kFrameInterval after the last.
    void Push(ClipRecorder& recorder, const std::vector<test::EncodedFrame>& frames) {
        for (const test::EncodedFrame& frame : frames) {
            recorder.Push(RecordedFrame{Bytes(frame), frame.keyFrame, m_next});
            m_next += kFrameInterval;
        }
    }
    static int64_t BytesOf(const std::vector<test::EncodedFrame>& frames) {
        int64_t bytes = 0;
        for (const test::EncodedFrame& frame : frames)
            bytes += int64_t(frame.bytes.size());
        return bytes;
    }

    QTemporaryDir m_folder;
    ReportLog m_log;
    Clock::time_point m_next = Clock::now();
};

TEST_F(ClipRecorderTest, ClipLastsAsLongAsItsFramesArrivedAndHoldsEachOneAsReceived) {
    // Ten seconds of frames, then a stream that stalls for one second and
    // goes on for one more: the stall stays in the clip.
    const auto frames = Encode(176, 144, 275, 25);
    ASSERT_EQ(frames.size(), 275u);
    const std::vector<test::EncodedFrame> before(frames.begin(), frames.begin() + 250);
    const std::vector<test::EncodedFrame> after(frames.begin() + 250, frames.end());
    RecorderOptions options = Options();
    options.queueFrames = 1000;  // all pushed at once: none may be dropped
    {
        ClipRecorder recorder(options, m_log.Listener());
        Push(recorder, before);
        m_next += 1s;
        Push(recorder, after);
    }
    ASSERT_EQ(m_log.Count(Kind::FileFinished), 1);
    const ClipSummary clip = m_log.Of(Kind::FileFinished)[0].summary;
    EXPECT_EQ(clip.file.parent_path(), Options().folder);
    EXPECT_TRUE(clip.file.filename().string().starts_with("127.0.0.1_ch1_")) << clip.file;

    EXPECT_NEAR(test::ClipDuration(clip.file), 12.0, 0.04);  // 275 frames of 40 ms, 1 s stall
    EXPECT_EQ(test::ClipPackets(clip.file), 275);
    EXPECT_EQ(clip.frames, 275);
    const std::vector<double> times = test::ClipPacketTimes(clip.file);
    ASSERT_EQ(times.size(), 275u);
    EXPECT_NEAR(times[250] - times[249], 1.04, 0.001);
    EXPECT_NEAR(times[249] - times[0], 249 * 0.04, 0.001);

    // The frames' bytes, plus the file's boxes: a header and per fragment a
    // few dozen bytes and one entry per frame.
    const int64_t received = BytesOf(frames);
    EXPECT_EQ(clip.frameBytes, received);
    const auto size = int64_t(fs::file_size(clip.file));
    EXPECT_EQ(clip.fileBytes, size);
    EXPECT_GE(size, received);
    EXPECT_LE(size, received + 2048 + 12 * 120 + 275 * 20);

    EXPECT_EQ(test::ClipStream(clip.file), "h264,176,144");
    EXPECT_EQ(test::ClipDecodeErrors(clip.file), "");
    EXPECT_EQ((fs::status(Options().folder).permissions() & fs::perms::all), fs::perms::owner_all);
}

TEST_F(ClipRecorderTest, FramesArrivingTogetherKeepTheirOrder) {
    // A network burst: frames read from one chunk arrive within the same
    // 90 kHz tick, or at the very same instant.
    const auto frames = Encode(176, 144, 30, 10);
    {
        ClipRecorder recorder(Options(), m_log.Listener());
        for (size_t index = 0; index < frames.size(); ++index) {
            const auto arrival = m_next + (index / 3) * 120ms + (index % 3) * 3us;
            recorder.Push(RecordedFrame{Bytes(frames[index]), frames[index].keyFrame, arrival});
        }
    }
    ASSERT_EQ(m_log.Count(Kind::Failed), 0);
    ASSERT_EQ(m_log.Count(Kind::FileFinished), 1);
    const fs::path file = m_log.Of(Kind::FileFinished)[0].summary.file;
    const std::vector<double> times = test::ClipPacketTimes(file);
    ASSERT_EQ(times.size(), 30u);
    for (size_t index = 1; index < times.size(); ++index)
        EXPECT_GT(times[index], times[index - 1]) << index;
    EXPECT_NEAR(times[29] - times[0], 9 * 0.12, 0.001);
    EXPECT_EQ(test::ClipDecodeErrors(file), "");
}

TEST_F(ClipRecorderTest, ClipBeginsWithAKeyFrame) {
    // Frames 5 to 24 depend on a key frame the recorder never saw.
    const auto frames = Encode(176, 144, 40, 25);
    {
        ClipRecorder recorder(Options(), m_log.Listener());
        Push(recorder, {frames.begin() + 5, frames.end()});
    }
    ASSERT_EQ(m_log.Count(Kind::FileFinished), 1);
    const fs::path file = m_log.Of(Kind::FileFinished)[0].summary.file;
    EXPECT_EQ(test::ClipFirstPacketFlags(file).substr(0, 1), "K");
    EXPECT_EQ(test::ClipPackets(file), 15);
    EXPECT_EQ(test::ClipDecodeErrors(file), "");
}

TEST_F(ClipRecorderTest, NewPictureSizeOrFileLengthStartsAnotherFile) {
    const auto small = Encode(176, 144, 30, 10);
    const auto large = Encode(320, 240, 30, 10, 30);
    RecorderOptions options = Options();
    options.fileLength = 2s;
    {
        ClipRecorder recorder(options, m_log.Listener());
        Push(recorder, {small.begin(), small.begin() + 25});
        // New parameter sets: a new file at once.
        Push(recorder, {large.begin(), large.begin() + 15});
        // Past the file length, but not at a key frame: the file goes on.
        m_next += 2s;
        Push(recorder, {large.begin() + 15, large.begin() + 20});
        // The next key frame starts the next file.
        Push(recorder, {large.begin() + 20, large.end()});
    }
    const auto files = m_log.Of(Kind::FileFinished);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(test::ClipStream(files[0].summary.file), "h264,176,144");
    EXPECT_EQ(test::ClipPackets(files[0].summary.file), 25);
    EXPECT_EQ(test::ClipStream(files[1].summary.file), "h264,320,240");
    EXPECT_EQ(test::ClipPackets(files[1].summary.file), 20);
    EXPECT_EQ(test::ClipPackets(files[2].summary.file), 10);
    for (const RecorderReport& file : files)
        EXPECT_EQ(test::ClipDecodeErrors(file.summary.file), "") << file.summary.file;
    EXPECT_EQ(test::ClipsIn(options.folder).size(), 3u);  // distinct names, none replaced
}

TEST_F(ClipRecorderTest, FramesThatAreNotAByteStreamAreSkipped) {
    auto frames = Encode(176, 144, 20, 10);
    std::vector<test::EncodedFrame> stream(frames.begin(), frames.begin() + 5);
    stream.push_back({{0x12, 0x34, 0x56, 0x78, 0x9a}, false});  // no start code
    stream.push_back({{0, 0, 1, 0xE1, 0x22, 0x33}, false});     // forbidden bit set
    stream.push_back({{0, 0, 0, 1, 0, 0, 0, 1, 0x41}, false});  // an empty unit
    stream.push_back({{0x55, 0x66}, true});                     // a "key frame" of nothing
    stream.insert(stream.end(), frames.begin() + 5, frames.end());
    {
        ClipRecorder recorder(Options(), m_log.Listener());
        Push(recorder, stream);
    }
    ASSERT_EQ(m_log.Count(Kind::FileFinished), 1);
    const fs::path file = m_log.Of(Kind::FileFinished)[0].summary.file;
    EXPECT_EQ(test::ClipPackets(file), 20);
    EXPECT_EQ(test::ClipDecodeErrors(file), "");
}

TEST_F(ClipRecorderTest, FullQueueDropsUpToTheNextKeyFrameAndSaysSo) {
    const auto frames = Encode(176, 144, 60, 10);
    RecorderOptions options = Options();
    options.queueFrames = 8;
    int64_t dropped = 0;
    m_log.HoldFileStart();  // the disk "stalls" in the first file's start
    {
        ClipRecorder recorder(options, m_log.Listener());
        Push(recorder, {frames.begin(), frames.begin() + 30});
        ASSERT_TRUE(m_log.WaitFor(Kind::FileStarted));
        m_log.ReleaseFileStart();
        ASSERT_TRUE(m_log.WaitFor(Kind::FramesDropped));
        Push(recorder, {frames.begin() + 30, frames.end()});
        recorder.Finish();
        ASSERT_TRUE(m_log.WaitFor(Kind::Ended));
        dropped = recorder.DroppedFrames();
    }
    // Frame 0 in the writer's hand, 1 to 8 queued: 9 to 29 had to go.
    EXPECT_GE(dropped, 21);
    ASSERT_EQ(m_log.Count(Kind::FileFinished), 1);
    const fs::path file = m_log.Of(Kind::FileFinished)[0].summary.file;
    EXPECT_EQ(test::ClipPackets(file), 60 - dropped);
    EXPECT_EQ(test::ClipDecodeErrors(file), "");
}

TEST_F(ClipRecorderTest, FolderThatCannotBeMadeEndsTheRecording) {
    const fs::path blocker = fs::path(m_folder.path().toStdString()) / "a-file";
    std::ofstream(blocker) << "not a folder";
    RecorderOptions options = Options();
    options.folder = blocker / "Videos";
    const auto frames = Encode(176, 144, 20, 10);
    ClipRecorder recorder(options, m_log.Listener());
    Push(recorder, frames);
    ASSERT_TRUE(m_log.WaitFor(Kind::Ended));
    ASSERT_EQ(m_log.Count(Kind::Failed), 1);
    EXPECT_EQ(m_log.Of(Kind::Failed)[0].failure, WriteFailure::FolderUnwritable);
    EXPECT_EQ(m_log.Count(Kind::FileStarted), 0);
    Push(recorder, frames);  // ignored after the failure
}

TEST_F(ClipRecorderTest, FullDiskEndsTheRecordingAndKeepsTheFragmentsWritten) {
    const auto frames = Encode(176, 144, 200, 5);
    const int64_t limit = 48 * 1024;
    ASSERT_GT(BytesOf(frames), 2 * limit);
    {
        test::FileSizeLimit full(limit);
        ClipRecorder recorder(Options(), m_log.Listener());
        Push(recorder, frames);
        ASSERT_TRUE(m_log.WaitFor(Kind::Ended));
    }
    ASSERT_EQ(m_log.Count(Kind::Failed), 1);
    const RecorderReport failed = m_log.Of(Kind::Failed)[0];
    EXPECT_EQ(failed.failure, WriteFailure::DiskFull);
    EXPECT_LE(int64_t(fs::file_size(failed.summary.file)), limit);
    // Whole fragments (five frames each) up to the last one written.
    const int packets = test::ClipPackets(failed.summary.file);
    EXPECT_GE(packets, 5);
    EXPECT_EQ(packets % 5, 0) << packets;
    EXPECT_EQ(test::ClipDecodeErrors(failed.summary.file), "");
}

TEST_F(ClipRecorderTest, FileThatCannotBeClosedEndsTheRecordingAndNoNextFileIsOpened) {
    // Key frames 30 apart and a new file after a second: the first file's
    // only fragment is written when it closes, beyond the limit its header kept to.
    const auto frames = Encode(176, 144, 60, 30);
    const int64_t limit = 4 * 1024;
    ASSERT_GT(BytesOf({frames.begin(), frames.begin() + 30}), 2 * limit);
    RecorderOptions options = Options();
    options.fileLength = 1s;
    {
        test::FileSizeLimit full(limit);
        ClipRecorder recorder(options, m_log.Listener());
        Push(recorder, frames);
        ASSERT_TRUE(m_log.WaitFor(Kind::Ended));
    }
    ASSERT_EQ(m_log.Count(Kind::Failed), 1);
    const RecorderReport failed = m_log.Of(Kind::Failed)[0];
    EXPECT_EQ(failed.failure, WriteFailure::DiskFull);
    EXPECT_EQ(m_log.Count(Kind::FileStarted), 1);
    EXPECT_EQ(m_log.Count(Kind::FileFinished), 0);
    EXPECT_EQ(test::ClipsIn(options.folder), std::vector<fs::path>{failed.summary.file});
}

TEST_F(ClipRecorderTest, NoFileIsEverReplaced) {
    const auto start = std::chrono::system_clock::now();
    const fs::path folder = fs::path(m_folder.path().toStdString());
    const fs::path first = ClipRecorder::FreeName(folder, "cam_ch2", start, 1);
    EXPECT_NE(first, ClipRecorder::FreeName(folder, "cam_ch2", start, 2));
    EXPECT_TRUE(first.filename().string().starts_with("cam_ch2_"));
    std::ofstream(first) << "precious";
    const auto frames = Encode(176, 144, 1, 10);
    ClipFormat format{VideoCodec::kH264, 176, 144,
                      ParameterSets(frames[0].bytes, VideoCodec::kH264)};
    WriteFailure failure = WriteFailure::None;
    int error = 0;
    EXPECT_EQ(ClipMuxer::Create(first, format, &failure, &error), nullptr);
    EXPECT_EQ(error, EEXIST);
    std::ifstream kept(first);
    std::string content;
    kept >> content;
    EXPECT_EQ(content, "precious");
}

}  // namespace
}  // namespace kavrel::record
