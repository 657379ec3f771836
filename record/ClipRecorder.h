#pragma once
// Records one session's received frames into MP4 clips, as they are: a remux,
// no decoding.
//
// The receive thread hands each frame to Push(), which only moves it into a
// bounded queue; a writer thread of the recorder's own takes the frames and
// writes them (ClipMuxer), so a slow or full disk never holds up the picture.
// The writer wakes once a fragment (a key frame's run), not for every frame.
// When the queue is full, frames are dropped up to the next key frame (a clip
// can only go on from one) and the listener hears of it once per gap.
//
// A clip begins with a key frame. Time stamps are the frames' arrival times
// (monotonic clock) from the clip's first frame, in 90 kHz ticks, so a stream
// that stalls shows the stall and a clip lasts as long as it was recorded. A
// new file starts when the key frame's parameter sets change (a new size or
// codec), and when a file has run for the file length. Files are named from
// the prefix and the local start time and never replace a file.
//
// Failures end the recording and keep what was written: a folder that cannot
// be made or written, a full disk, a file that cannot be closed (no next file
// is opened after it). A frame that is not a byte stream with
// start codes is skipped.
//
// Threads: Push from one producer thread (the session's receive thread);
// Finish, the destructor and the accessors from the owner's thread. The
// listener runs on the writer thread: it must only hand the report over.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "record/ClipMuxer.h"
#include "video/FrameQueue.h"

namespace kavrel::record {

using Clock = std::chrono::steady_clock;

// The bytes are the received buffer itself, shared with the decode queue and
// the session's kept frames: queueing a frame copies none of them.
struct RecordedFrame {
    SharedFrameBytes bytes;
    bool keyFrame = false;
    Clock::time_point arrival;
};

struct RecorderOptions {
    std::filesystem::path folder;  // made 0700 (with missing parents) when missing
    std::string namePrefix;        // file names are PREFIX_YYYYMMDD-HHMMSS.mp4
    std::chrono::seconds fileLength{30 * 60};
    // The queue before the writer: bytes and frames (about 10 s of 1080p).
    size_t queueBytes = 24u << 20;
    size_t queueFrames = 256;
};

// What a file came to.
struct ClipSummary {
    std::filesystem::path file;
    int64_t frames = 0;       // written into the file
    int64_t frameBytes = 0;   // their bytes as received
    int64_t fileBytes = 0;    // the file's size
    Clock::time_point first;  // arrival of the first frame
    Clock::time_point end;    // the end of the last frame's duration
};

struct RecorderReport {
    enum class Kind {
        FileStarted,    // `summary.file` opened
        FileFinished,   // `summary` complete, the file closed
        FramesDropped,  // the queue overflowed: frames up to a key frame were dropped
        Failed,         // `failure` ended the recording; `summary` is what was written
        Ended,          // the writer has stopped: the last report
    };
    Kind kind = Kind::Ended;
    WriteFailure failure = WriteFailure::None;
    ClipSummary summary;
};

class ClipRecorder {
  public:
    using Listener = std::function<void(const RecorderReport&)>;

    // Starts the writer thread; no file is made until the first key frame.
    ClipRecorder(RecorderOptions options, Listener listener);
    // Finish(), then waits for the writer thread.
    ~ClipRecorder();
    ClipRecorder(const ClipRecorder&) = delete;
    ClipRecorder& operator=(const ClipRecorder&) = delete;

    // Queues a frame (never blocks on the disk). Ignored after Finish or a failure.
    void Push(RecordedFrame frame);
    // Asks the writer to write what is queued and close the file; returns at
    // once. The listener's Ended report says when it is done.
    void Finish();

    // Frames dropped for a full queue so far.
    int64_t DroppedFrames() const;

    // A file name free in `folder`: PREFIX_YYYYMMDD-HHMMSS.mp4, or with -2,
    // -3 ... before the extension when that exists.
    static std::filesystem::path FreeName(const std::filesystem::path& folder,
                                          const std::string& prefix,
                                          std::chrono::system_clock::time_point start, int attempt);

  private:
    void WriterLoop();  // writer thread
    // Writer thread: one frame into the current file, opening files as needed.
    // False when the recording must end.
    bool WriteFrame(RecordedFrame& frame);
    bool OpenFile(const RecordedFrame& keyFrame);
    bool WritePending(Clock::time_point next);
    // False when the file could not be closed whole: Fail has reported it.
    bool CloseFile(Clock::time_point end);
    void Fail(WriteFailure failure);
    void Report(RecorderReport::Kind kind, WriteFailure failure = WriteFailure::None);

    const RecorderOptions m_options;
    const Listener m_listener;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<RecordedFrame> m_queue;  // guarded by m_mutex
    size_t m_queuedBytes = 0;           // guarded by m_mutex
    bool m_finishing = false;           // guarded by m_mutex
    bool m_failed = false;              // guarded by m_mutex
    bool m_dropUntilKey = false;        // guarded by m_mutex: the queue overflowed
    bool m_gapToReport = false;         // guarded by m_mutex
    int64_t m_dropped = 0;              // guarded by m_mutex
    bool m_lastQueuedKey = false;       // guarded by m_mutex: the frame queued last is a key frame
    bool m_writeDue = false;  // guarded by m_mutex: the writer was woken to drain the queue

    // Owned by the writer thread.
    std::unique_ptr<ClipMuxer> m_muxer;
    ClipFormat m_format;
    ClipSummary m_summary;
    SharedFrameBytes m_pending;  // the last frame, written when the next tells its duration
    bool m_pendingKey = false;
    Clock::time_point m_pendingArrival;
    Clock::duration m_lastInterval{};
    int64_t m_lastPts = 0;  // of the last frame written into the current file

    std::thread m_writer;  // last: starts once every member above exists
};

}  // namespace kavrel::record
