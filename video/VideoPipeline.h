#pragma once
// The video engine behind the video window: the queue of encoded frames, one
// decoder, one decode thread, the picture buffers, conversion and snapshots.
// It needs no widget; finished pictures go to a PictureSink.
//
// Threads:
//  - AddFrame: the receive thread (any thread).
//  - StartDecoding: the receive thread or the user-interface thread;
//    StopDecoding and the destructor: the user-interface thread. The two are
//    serialised by m_controlMutex and each ends the decode thread before it
//    touches the decoder or the buffers.
//  - RequestStop, RequestSnapshot, SetView, SetFullScreen, Redraw,
//    SetPauseAfterPicture: any thread (atomics, or small state under its own lock).
//  - The decode thread takes frames, decodes, converts and calls the sink,
//    and closes its decoder as it ends. A requested snapshot's picture it
//    only copies and hands to the snapshot worker (SnapshotWorker.h), whose
//    thread writes the file: no stop ever waits for a disk.
//
// Pictures are converted at the size they are shown (SampledConversion.h),
// straight from the decoder's planes, into the sink's own buffer when it
// offers one (PictureSink::PictureBuffer). The full-size conversion runs only
// for a snapshot.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "video/DecodeSkipping.h"
#include "video/FastConversion.h"
#include "video/FrameQueue.h"
#include "video/FrameTimeline.h"
#include "video/H264Decoder.h"
#include "video/PictureSink.h"
#include "video/SampledConversion.h"
#include "video/SnapshotWorker.h"
#include "video/SnapshotWriter.h"

namespace kavrel {

// The picture size a stream announces: all the pipeline needs of it.
struct VideoFormat {
    int width = 0;
    int height = 0;
};

// How pictures are shown: stretched over an area of width x height pixels
// (none: at their own size), turned a quarter turn clockwise first or not,
// either filling the area or keeping their aspect inside it, and which part
// of the picture (the digital zoom's; the whole by default).
struct PictureView {
    int width = 0;
    int height = 0;
    bool turned = false;
    bool keepAspect = false;
    ViewRect part;
    bool operator==(const PictureView&) const = default;
};

// The size a picture of width x height is converted to under `view`. Keeping
// the aspect gives the largest size of the picture's proportions that fits
// (as QSize::scaled with Qt::KeepAspectRatio).
PictureSize TargetSize(const PictureView& view, int width, int height);

// Limits that keep a misbehaving server from exhausting memory.
struct PipelineLimits {
    // What an announced picture size alone may reserve (a server may announce
    // 65535 x 65535); larger pictures get their buffers when they are decoded.
    size_t maxReservedPixels = 1920 * 1088;
    // Largest decoded picture accepted: H.264's largest level (8192 x 4352).
    // A larger one counts as a failed decode.
    size_t maxPicturePixels = 139264 * 256;
    // Frames refused by AddFrame once the queue holds this many or this many
    // payload bytes (it only grows that long when decoding cannot keep up and
    // no key frame arrives, or when no decode thread runs).
    size_t maxQueuedFrames = 2000;
    size_t maxQueuedBytes = size_t(64) << 20;
    // Decodes failed in a row, or key frames failed in a row, after which the
    // stream counts as undecodable. A stream joined between key frames fails
    // until its next key frame, which decodes.
    uint32_t undecodableRun = 300;
    uint32_t undecodableKeyFrames = 2;
};

// Why frames come but no new picture does, as far as decoding can tell.
enum class DecodeTrouble {
    kNone,
    kUndecodable,  // decoding keeps failing: an unsupported or broken stream
    kTooLarge,     // the pictures exceed PipelineLimits::maxPicturePixels
};

// Running totals for tools and tests; each is updated on its own.
struct PipelineCounters {
    uint64_t framesAdded = 0;       // queued by AddFrame
    uint64_t framesRefused = 0;     // not queued: over the limits, or no memory for the record
    uint64_t framesDecoded = 0;     // "Decode succeed"
    uint64_t decodeFailures = 0;    // "Decode failed"
    uint64_t framesDropped = 0;     // removed by the drop policy, or skipped (below)
    uint64_t framesSkipped = 0;     // non-key frames passed over while decoding key frames only
    uint64_t framesDiscarded = 0;   // released unplayed by StopDecoding
    uint64_t picturesDrawn = 0;     // handed to the sink
    uint64_t snapshotsWritten = 0;  // whole files written (counted when the worker is done)
    uint64_t snapshotsFailed = 0;
    uint64_t bufferBytes = 0;  // held now by the picture buffers

    // For the statistics of the last minute.
    uint64_t bytesAdded = 0;         // payload bytes of the frames queued
    uint64_t decodeNanoseconds = 0;  // the time the successful decodes took together
};

class VideoPipeline {
  public:
    // `sink` may be null (nothing is delivered); otherwise it must outlive the
    // pipeline. The pipeline starts with a snapshot worker of its own.
    explicit VideoPipeline(PictureSink* sink, PipelineLimits limits = {});
    // Stops decoding first. A snapshot still being written is finished by
    // its worker, but no longer reported to the sink; the pipeline's own
    // worker, when nobody shares it, is waited for here.
    ~VideoPipeline();
    VideoPipeline(const VideoPipeline&) = delete;
    VideoPipeline& operator=(const VideoPipeline&) = delete;

    // Restarts decoding for the announced size: ends a running decode thread,
    // replaces the decoder and the buffers, starts a new thread. Queued frames
    // stay queued for the new decoder.
    void StartDecoding(const VideoFormat& format);
    // Ends the thread, closes the decoder, frees the buffers and releases every
    // queued frame. A snapshot request no picture has served yet is dropped
    // and reported to the sink as failed (on the calling thread); one whose
    // picture the worker has is written and reported all the same.
    void StopDecoding();
    // Tells the decode thread to end after the picture in hand, without
    // waiting for it; a StopDecoding must follow (a StartDecoding cancels it).
    // Stopping several pipelines, ask each first and then stop each: their
    // threads end side by side instead of one after another.
    void RequestStop();
    // Queues a copy of exactly `length` bytes (see MakeFrame), stamped with
    // its arrival (none: now).
    void AddFrame(const uint8_t* bytes, int length, int keyFrame,
                  FrameClock::time_point arrival = {});
    // Queues the frame around `bytes` itself, shared with whoever else holds
    // them (the recording): no copy.
    void AddFrame(SharedFrameBytes bytes, int keyFrame, FrameClock::time_point arrival = {});
    // The next picture decoded is also written as a snapshot; the outcome goes
    // to the sink's OnSnapshotWritten, from the worker's thread. A request
    // made while the last one of its kind is still being written is served by
    // that file. A view snapshot holds the view's part of that picture.
    void RequestSnapshot(SnapshotKind kind = SnapshotKind::kPicture);
    // Asked for and not yet reported (waiting for a picture, or being written).
    bool SnapshotPending() const;

    // Read once per picture by the decode thread.
    void SetView(const PictureView& view);
    PictureView View() const;
    // The view's turn alone (full screen on a portrait monitor).
    void SetFullScreen(bool on);
    bool IsFullScreen() const;
    // The picture decoded last, if the decoder still holds it, is converted
    // and delivered again for the current view (after the view changed).
    void Redraw();

    // Pause of the decode thread after each delivered picture. A pause of
    // 10 ms was meant to leave time to other threads; measured (bench_video,
    // backlog_pause*), it only slowed the catching up on a backlog (2.3 to 13
    // times longer per frame) and did not make a thread standing for the
    // user interface wake more punctually, because pictures reach the window
    // as "latest wins" and the decode thread never paints. So it is 0 by
    // default; a stop cuts a running pause short.
    void SetPauseAfterPicture(std::chrono::milliseconds pause);
    // Which conversion path the decode thread uses (the best one by default).
    void SetConversionPath(ConversionPath path);
    ConversionPath CurrentConversionPath() const;
    // How the shown pixels are found (the fastest way by default; the
    // per-pixel gather for benchmarks to compare against).
    void SetSampling(Sampling sampling) { m_sampling.store(sampling); }

    // The folder, clock and hook of the files the current worker writes.
    SnapshotWriter& Snapshots();
    // Shares another worker (the video windows of one main window write
    // through one, which lives as long as the longest of them). Before
    // StartDecoding; the references Snapshots gave before are then stale.
    void ShareSnapshotWorker(std::shared_ptr<SnapshotWorker> worker);
    std::shared_ptr<SnapshotWorker> SharedSnapshotWorker() const;
    PipelineCounters Counters() const;
    // The longest decode since the last call (any thread; meant for one reader).
    std::chrono::nanoseconds TakeLongestDecode();
    // Decode thread only (a sink's OnPictureReady or OnPicture): the stamps of
    // the frame whose picture is being delivered; not stamped for a redraw.
    const FrameStamps& PictureStamps() const { return m_pictureStamps; }
    // The codec of the last picture decoded since StartDecoding; kUnknown before it.
    VideoCodec Codec() const { return m_codec.load(std::memory_order_relaxed); }
    size_t QueuedFrames() const;
    // The bytes of the queued frame at `index` (null past the end): which
    // buffer it holds, for tests.
    const uint8_t* QueuedBytes(size_t index) const;
    bool IsDecoding() const;  // a decode thread runs

    // Any thread: what keeps the decoded pictures from coming (kNone after
    // StartDecoding and after each picture).
    DecodeTrouble Trouble() const;

    // What the decoder may leave out (DecodeSkipping.h). Read by StartDecoding.
    void SetSkipOptions(const SkipOptions& options);
    // Set by the decode thread, read by any: it decodes key frames only
    // (having fallen behind), and it skips the loop filter (a small tile).
    // Both false while no thread runs.
    bool KeyFramesOnly() const { return m_keyFramesOnly.load(std::memory_order_relaxed); }
    bool LoopFilterSkipped() const { return m_loopFilterSkipped.load(std::memory_order_relaxed); }
    // A busy wait of this much of the decode thread's CPU time after every
    // decode, as if decoding cost that much more: to overload a tile in tests and
    // benchmarks. Any thread; 0 (the default) turns it off.
    void SetDecodeOverload(std::chrono::microseconds extra);

    // Failures that cannot be provoked from outside, for tests.
    struct FaultInjection {
        bool failOpenDecoder = false;
        bool failCreateThread = false;
    };
    void SetFaultInjection(FaultInjection faults);

  private:
    template <typename T>
    struct Buffer {
        std::unique_ptr<T[]> data;
        size_t capacity = 0;  // elements

        // Makes room for `count` elements; contents are not kept. False (and
        // no buffer) when the allocation fails. `held` tracks the bytes of all buffers.
        bool Reserve(size_t count, std::atomic<uint64_t>& held);
        void Free(std::atomic<uint64_t>& held) {
            held -= capacity * sizeof(T);
            data.reset();
            capacity = 0;
        }
    };

    void Queue(std::unique_ptr<CFrame> frame, FrameClock::time_point arrival);
    void EndThread();     // m_controlMutex held
    void FreeDecoding();  // m_controlMutex held, no thread
    void DecodeLoop();    // the decode thread
    // The next frame, or (with none queued) a redraw request; false once stopped.
    bool TakeWork(std::unique_ptr<CFrame>& frame, bool& redraw, BacklogGuard& guard);
    // Under m_queueMutex: moves every queued non-key frame to `dropped`.
    void RemoveNonKeyFrames(std::vector<std::unique_ptr<CFrame>>& dropped);
    void ChooseSkipping(const BacklogGuard& guard);  // the decode thread, before each decode
    void BusyOverload();
    bool Decode(const CFrame& frame, PlanarPicture* picture);
    void CountDecode(const CFrame& frame, bool decoded);  // the decode thread
    void ClearTrouble();  // no failures counted, no picture too large
    void CountDecodeTime(std::chrono::nanoseconds spent);  // the decode thread
    bool WithinLimit(const PlanarPicture& picture) const;
    void Present(const PlanarPicture& picture);
    // The decode thread.
    void HandOverSnapshot(const PlanarPicture& picture, SnapshotKind kind, const ViewRect& part);
    // With m_outcomes->mutex held, so the sink hears one outcome at a time.
    void SnapshotDone(SnapshotKind kind, bool ok, const std::string& path);
    void PauseAfterPicture();

    // The road back from a worker's thread, which may outlive the pipeline:
    // the destructor clears `pipeline` under `mutex`, so a job that ends later
    // reports to nobody, and one reporting meanwhile finishes first.
    struct SnapshotOutcomes {
        std::mutex mutex;
        VideoPipeline* pipeline = nullptr;  // guarded by mutex
    };

    PictureSink* const m_sink;
    const PipelineLimits m_limits;
    const std::shared_ptr<SnapshotOutcomes> m_outcomes;

    mutable std::mutex m_workerMutex;
    std::shared_ptr<SnapshotWorker> m_worker;  // guarded by m_workerMutex; never null

    mutable std::mutex m_controlMutex;  // serialises StartDecoding and StopDecoding
    std::thread m_thread;               // guarded by m_controlMutex
    FaultInjection m_faults;            // guarded by m_controlMutex
    SkipOptions m_skipOptions;          // guarded by m_controlMutex
    // Owned by the decode thread while it runs (a copy of m_skipOptions made
    // before it starts); otherwise guarded by m_controlMutex.
    SkipOptions m_threadSkipOptions;
    PictureSize m_lastDecoded;  // owned by the decode thread while it runs
    // Owned by the decode thread while it runs; otherwise guarded by m_controlMutex.
    DecoderPtr m_decoder;
    bool m_decoderClosedOnExit = false;  // as m_decoder: the thread closed it as it ended
    Buffer<uint16_t> m_screen;  // the 16-bit picture, for a sink without a buffer of its own
    SamplingScratch m_scratch;
    FrameStamps m_pictureStamps;  // the decode thread's: the picture in hand

    mutable std::mutex m_queueMutex;
    std::condition_variable m_queueCv;  // a frame arrived or a stop was asked
    FrameQueue m_queue;                 // guarded by m_queueMutex
    size_t m_queuedBytes = 0;           // guarded by m_queueMutex
    bool m_stop = false;                // guarded by m_queueMutex
    bool m_redraw = false;              // guarded by m_queueMutex

    mutable std::mutex m_viewMutex;
    PictureView m_view;  // guarded by m_viewMutex

    // No request, a request waiting for a picture, or its picture with the worker.
    // One per SnapshotKind, so a view snapshot and a whole one never serve each other.
    enum class SnapshotState { kNone, kAsked, kWriting };
    std::atomic<SnapshotState> m_snapshot[2] = {SnapshotState::kNone, SnapshotState::kNone};
    std::atomic<SnapshotState>& SnapshotOf(SnapshotKind kind) {
        return m_snapshot[kind == SnapshotKind::kView ? 1 : 0];
    }
    std::atomic<int> m_pauseMs{0};
    std::atomic<int64_t> m_overloadUs{0};
    std::atomic<bool> m_keyFramesOnly{false};      // written by the decode thread (and at stop)
    std::atomic<bool> m_loopFilterSkipped{false};  // written by the decode thread (and at stop)
    // Written by the decode thread (and at start), read by any: failures in a
    // row since the last picture, and whether the last was an oversized one.
    std::atomic<uint32_t> m_failedInRow{0};
    std::atomic<uint32_t> m_failedKeyFramesInRow{0};
    std::atomic<bool> m_tooLarge{false};
    std::atomic<ConversionPath> m_path{BestConversionPath()};
    std::atomic<Sampling> m_sampling{Sampling::kBest};

    struct AtomicCounters {
        std::atomic<uint64_t> framesAdded{0}, framesRefused{0}, framesDecoded{0}, decodeFailures{0},
            framesDropped{0}, framesSkipped{0}, framesDiscarded{0}, picturesDrawn{0},
            snapshotsWritten{0}, snapshotsFailed{0}, bufferBytes{0}, bytesAdded{0},
            decodeNanoseconds{0};
    };
    AtomicCounters m_counters;
    // Raised by the decode thread, taken (reset to 0) by TakeLongestDecode.
    std::atomic<int64_t> m_longestDecodeNs{0};
    // Written by the decode thread after each picture, read by any thread.
    std::atomic<VideoCodec> m_codec{VideoCodec::kUnknown};
};

}  // namespace kavrel
