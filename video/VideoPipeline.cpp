#include "video/VideoPipeline.h"

#include <sys/resource.h>

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <new>
#include <system_error>
#include <utility>

#include <QSize>

#include "platform/DebugSink.h"
#include "platform/ReturnableHeap.h"
#include "video/StreamCodec.h"

namespace kavrel {

namespace {

// A nice value above the user-interface thread's 0: a weight of about a third.
constexpr int kDecodeNiceness = 5;

}  // namespace

PictureSize TargetSize(const PictureView& view, int width, int height) {
    const PictureSize shown = ShownSize(width, height, view.turned);
    if (view.width <= 0 || view.height <= 0)
        return shown;
    if (!view.keepAspect || shown.width <= 0 || shown.height <= 0)
        return PictureSize{view.width, view.height};
    const QSize fitted = QSize(shown.width, shown.height)
                             .scaled(QSize(view.width, view.height), Qt::KeepAspectRatio);
    return PictureSize{std::max(1, fitted.width()), std::max(1, fitted.height())};
}

template <typename T>
bool VideoPipeline::Buffer<T>::Reserve(size_t count, std::atomic<uint64_t>& held) {
    if (data && count <= capacity)
        return true;
    Free(held);
    data.reset(new (std::nothrow) T[std::max<size_t>(count, 1)]);
    if (!data)
        return false;
    capacity = count;
    held += capacity * sizeof(T);
    return true;
}

VideoPipeline::VideoPipeline(PictureSink* sink, PipelineLimits limits)
    : m_sink(sink),
      m_limits(limits),
      m_outcomes(std::make_shared<SnapshotOutcomes>()),
      m_worker(std::make_shared<SnapshotWorker>()) {
    m_outcomes->pipeline = this;
}

VideoPipeline::~VideoPipeline() {
    StopDecoding();
    std::lock_guard lock(m_outcomes->mutex);
    m_outcomes->pipeline = nullptr;
}

void VideoPipeline::RequestStop() {
    {
        std::lock_guard lock(m_queueMutex);
        m_stop = true;
    }
    m_queueCv.notify_all();
}

void VideoPipeline::EndThread() {
    if (!m_thread.joinable())
        return;
    RequestStop();
    m_thread.join();
}

void VideoPipeline::FreeDecoding() {
    const bool hadDecoder = std::exchange(m_decoderClosedOnExit, false) || m_decoder != nullptr;
    CloseDecoder(m_decoder);
    m_screen.Free(m_counters.bufferBytes);
    m_scratch = SamplingScratch{};
    if (hadDecoder)
        ReturnFreedMemory();
}

void VideoPipeline::StartDecoding(const VideoFormat& format) {
    std::lock_guard control(m_controlMutex);
    EndThread();
    FreeDecoding();
    m_codec.store(VideoCodec::kUnknown, std::memory_order_relaxed);
    m_threadSkipOptions = m_skipOptions;
    // Until the first picture tells its size, the announced one decides
    // whether the tile is small.
    m_lastDecoded = PictureSize{std::max(0, format.width), std::max(0, format.height)};
    m_keyFramesOnly.store(false, std::memory_order_relaxed);
    m_loopFilterSkipped.store(false, std::memory_order_relaxed);
    ClearTrouble();

    m_decoder = m_faults.failOpenDecoder ? nullptr : OpenDecoder(m_limits.maxPicturePixels);
    if (!m_decoder) {
        DebugOutput("Init codec failed\n");
    } else {
        // A sink without a buffer of its own gets the pictures from here. The
        // announcement only reserves room up to a cap; a larger picture gets
        // its buffer when it is actually decoded, and a failed reservation
        // here is retried then.
        if (m_sink == nullptr || !m_sink->HasPictureBuffer()) {
            const size_t pixels =
                std::min(size_t(std::max(0, format.width)) * size_t(std::max(0, format.height)),
                         m_limits.maxReservedPixels);
            m_screen.Reserve(pixels, m_counters.bufferBytes);
        }
    }

    {
        std::lock_guard lock(m_queueMutex);
        m_stop = false;
        m_redraw = false;
    }
    try {
        if (m_faults.failCreateThread) {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        m_thread = std::thread(&VideoPipeline::DecodeLoop, this);
    } catch (const std::system_error&) {
        DebugOutput("Create decode thread failed\n");
    }
}

void VideoPipeline::StopDecoding() {
    std::lock_guard control(m_controlMutex);
    EndThread();
    FreeDecoding();
    m_keyFramesOnly.store(false, std::memory_order_relaxed);
    m_loopFilterSkipped.store(false, std::memory_order_relaxed);
    ClearTrouble();

    FrameQueue released;
    {
        std::lock_guard lock(m_queueMutex);
        released.swap(m_queue);
        m_queuedBytes = 0;
    }
    m_counters.framesDiscarded += released.size();

    // A request no picture has served yet belongs to the pictures that stop
    // here: served later, it would be of another channel or minutes late. It
    // fails now instead. One being written is left to its worker.
    for (SnapshotKind kind : {SnapshotKind::kPicture, SnapshotKind::kView}) {
        SnapshotState asked = SnapshotState::kAsked;
        if (SnapshotOf(kind).compare_exchange_strong(asked, SnapshotState::kNone)) {
            std::lock_guard lock(m_outcomes->mutex);
            SnapshotDone(kind, false, {});
        }
    }
    // The frames are freed here, outside the queue lock.
}

void VideoPipeline::AddFrame(const uint8_t* bytes, int length, int keyFrame,
                             FrameClock::time_point arrival) {
    Queue(MakeFrame(bytes, length, keyFrame), arrival);
}

void VideoPipeline::AddFrame(SharedFrameBytes bytes, int keyFrame, FrameClock::time_point arrival) {
    Queue(MakeFrame(std::move(bytes), keyFrame), arrival);
}

void VideoPipeline::Queue(std::unique_ptr<CFrame> frame, FrameClock::time_point arrival) {
    if (!frame) {
        ++m_counters.framesRefused;
        return;
    }
    frame->arrival = arrival == FrameClock::time_point{} ? FrameClock::now() : arrival;
    const size_t payload = size_t(frame->length);
    {
        std::lock_guard lock(m_queueMutex);
        if (m_queue.size() < m_limits.maxQueuedFrames &&
            m_queuedBytes + size_t(frame->length) <= m_limits.maxQueuedBytes) {
            m_queuedBytes += size_t(frame->length);
            m_queue.push_back(std::move(frame));
            ++m_counters.framesAdded;
        }
    }
    if (frame) {  // refused: freed here, outside the lock
        ++m_counters.framesRefused;
        return;
    }
    m_counters.bytesAdded += payload;
    m_queueCv.notify_one();
}

void VideoPipeline::RequestSnapshot(SnapshotKind kind) {
    // Asked already, or being written: that file serves this request too.
    SnapshotState none = SnapshotState::kNone;
    SnapshotOf(kind).compare_exchange_strong(none, SnapshotState::kAsked);
}
bool VideoPipeline::SnapshotPending() const {
    return m_snapshot[0].load() != SnapshotState::kNone ||
           m_snapshot[1].load() != SnapshotState::kNone;
}

SnapshotWriter& VideoPipeline::Snapshots() {
    std::lock_guard lock(m_workerMutex);
    return m_worker->Writer();
}

void VideoPipeline::ShareSnapshotWorker(std::shared_ptr<SnapshotWorker> worker) {
    if (!worker)
        return;
    std::shared_ptr<SnapshotWorker> replaced;
    {
        std::lock_guard lock(m_workerMutex);
        replaced = std::exchange(m_worker, std::move(worker));
    }
    // `replaced` goes here, outside the lock: it waits for its own jobs, if any.
}

std::shared_ptr<SnapshotWorker> VideoPipeline::SharedSnapshotWorker() const {
    std::lock_guard lock(m_workerMutex);
    return m_worker;
}

void VideoPipeline::SetView(const PictureView& view) {
    std::lock_guard lock(m_viewMutex);
    m_view = view;
}
PictureView VideoPipeline::View() const {
    std::lock_guard lock(m_viewMutex);
    return m_view;
}

void VideoPipeline::SetFullScreen(bool on) {
    std::lock_guard lock(m_viewMutex);
    m_view.turned = on;
}
bool VideoPipeline::IsFullScreen() const {
    return View().turned;
}

void VideoPipeline::Redraw() {
    {
        std::lock_guard lock(m_queueMutex);
        m_redraw = true;
    }
    m_queueCv.notify_one();
}

void VideoPipeline::SetPauseAfterPicture(std::chrono::milliseconds pause) {
    m_pauseMs.store(int(std::max<int64_t>(0, pause.count())));
}

void VideoPipeline::SetConversionPath(ConversionPath path) {
    m_path.store(path);
}
ConversionPath VideoPipeline::CurrentConversionPath() const {
    return m_path.load();
}

PipelineCounters VideoPipeline::Counters() const {
    PipelineCounters c;
    c.framesAdded = m_counters.framesAdded.load();
    c.bytesAdded = m_counters.bytesAdded.load();
    c.decodeNanoseconds = m_counters.decodeNanoseconds.load();
    c.framesRefused = m_counters.framesRefused.load();
    c.framesDecoded = m_counters.framesDecoded.load();
    c.decodeFailures = m_counters.decodeFailures.load();
    c.framesDropped = m_counters.framesDropped.load();
    c.framesSkipped = m_counters.framesSkipped.load();
    c.framesDiscarded = m_counters.framesDiscarded.load();
    c.picturesDrawn = m_counters.picturesDrawn.load();
    c.snapshotsWritten = m_counters.snapshotsWritten.load();
    c.snapshotsFailed = m_counters.snapshotsFailed.load();
    c.bufferBytes = m_counters.bufferBytes.load();
    return c;
}

std::chrono::nanoseconds VideoPipeline::TakeLongestDecode() {
    return std::chrono::nanoseconds(m_longestDecodeNs.exchange(0));
}

size_t VideoPipeline::QueuedFrames() const {
    std::lock_guard lock(m_queueMutex);
    return m_queue.size();
}

const uint8_t* VideoPipeline::QueuedBytes(size_t index) const {
    std::lock_guard lock(m_queueMutex);
    return index < m_queue.size() ? m_queue[index]->bytes.get() : nullptr;
}

bool VideoPipeline::IsDecoding() const {
    std::lock_guard control(m_controlMutex);
    return m_thread.joinable();
}

void VideoPipeline::SetSkipOptions(const SkipOptions& options) {
    std::lock_guard control(m_controlMutex);
    m_skipOptions = options;
}

void VideoPipeline::SetDecodeOverload(std::chrono::microseconds extra) {
    m_overloadUs.store(std::max<int64_t>(0, extra.count()));
}

void VideoPipeline::SetFaultInjection(FaultInjection faults) {
    std::lock_guard control(m_controlMutex);
    m_faults = faults;
}

bool VideoPipeline::TakeWork(std::unique_ptr<CFrame>& frame, bool& redraw, BacklogGuard& guard) {
    std::vector<std::unique_ptr<CFrame>> dropped;
    size_t skipped = 0;
    DropPolicyResult policy;
    {
        std::unique_lock lock(m_queueMutex);
        for (;;) {
            m_queueCv.wait(lock, [this] { return m_stop || m_redraw || !m_queue.empty(); });
            if (m_stop)
                return false;
            // A frame on its way makes a redraw needless: it is shown in the new view.
            redraw = m_redraw && m_queue.empty();
            m_redraw = false;
            if (redraw)
                return true;
            // The policy pass and the take that follows it form one step under the lock.
            const size_t before = dropped.size();
            const DropPolicyResult pass = ApplyDropPolicy(m_queue, &dropped);
            policy.ran = policy.ran || pass.ran;
            policy.dropped += pass.dropped;
            for (size_t i = before; i < dropped.size(); ++i)
                m_queuedBytes -= size_t(dropped[i]->length);
            const auto now = BacklogGuard::Clock::now();
            if (!guard.KeyFramesOnly() && guard.AfterPolicy(now, pass))
                DebugOutput("Key frames only\n");
            if (guard.KeyFramesOnly()) {
                // Whatever is queued behind is decoded only from its key frame on:
                // the rest goes now, so the tile catches up at once.
                const size_t kept = dropped.size();
                RemoveNonKeyFrames(dropped);
                skipped += dropped.size() - kept;
                if (m_queue.empty())
                    continue;  // wait for the next key frame
                if (guard.AtKeyFrame(now, m_queue.size() - 1))
                    DebugOutput("All frames again\n");
            }
            break;
        }
        frame = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedBytes -= size_t(frame->length);
    }
    if (policy.ran)
        DebugOutput("Drop frame\n");
    m_counters.framesDropped += dropped.size();
    m_counters.framesSkipped += skipped;
    m_keyFramesOnly.store(guard.KeyFramesOnly(), std::memory_order_relaxed);
    return true;  // the dropped frames are freed here, outside the lock
}

void VideoPipeline::RemoveNonKeyFrames(std::vector<std::unique_ptr<CFrame>>& dropped) {
    FrameQueue kept;
    for (auto& queued : m_queue) {
        if (queued->keyFrame != 0) {
            kept.push_back(std::move(queued));
        } else {
            m_queuedBytes -= size_t(queued->length);
            dropped.push_back(std::move(queued));
        }
    }
    m_queue.swap(kept);
}

void VideoPipeline::ChooseSkipping(const BacklogGuard& guard) {
    bool small = false;
    if (m_threadSkipOptions.loopFilterWhenSmall && m_lastDecoded.width > 0) {
        const PictureView view = View();
        const PictureSize shown = TargetSize(view, m_lastDecoded.width, m_lastDecoded.height);
        small = ShownAtHalfOrLess(shown, view.turned, view.part, m_lastDecoded.width,
                                  m_lastDecoded.height);
    }
    SetSkipping(*m_decoder, DecoderSkipping{small, guard.KeyFramesOnly()});
    m_loopFilterSkipped.store(small, std::memory_order_relaxed);
}

void VideoPipeline::BusyOverload() {
    const int64_t extra = m_overloadUs.load(std::memory_order_relaxed);
    if (extra <= 0)
        return;
    // Busy on purpose, counted in this thread's own CPU time: the overload
    // must cost CPU as decoding would. Counted on the wall clock, threads
    // sharing a core would each wait out the same milliseconds together and
    // many tiles would overload the machine no more than one.
    const auto cpuNow = [] {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return int64_t(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
    };
    const int64_t until = cpuNow() + extra;
    while (cpuNow() < until) {
    }
}

void VideoPipeline::DecodeLoop() {
    pthread_setname_np(pthread_self(), "kavrel-decode");
    // Decoding wants throughput, the window (and the display server it waits
    // on) wants latency. Sixteen tiles' frames arrive in a burst; at a lower
    // weight that burst no longer holds the user-interface thread off a core
    // for tens of milliseconds, and a decoder still gets every idle cycle.
    // Only this thread's weight changes; failing leaves it as it was.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kDecodeNiceness);
    std::unique_ptr<CFrame> frame;
    bool redraw = false;
    BacklogGuard guard(m_threadSkipOptions);
    while (TakeWork(frame, redraw, guard)) {
        if (redraw) {
            m_pictureStamps = FrameStamps{};  // an old picture again: nothing new to count
            const PlanarPicture held = m_decoder ? HeldPicture(*m_decoder) : PlanarPicture{};
            if (!held.IsEmpty() && WithinLimit(held))
                Present(held);
            continue;
        }
        if (m_decoder)
            ChooseSkipping(guard);
        PlanarPicture picture;
        m_pictureStamps.arrival = frame->arrival;
        m_pictureStamps.decodeStart = FrameClock::now();
        const bool decoded = Decode(*frame, &picture);
        BusyOverload();
        m_pictureStamps.decodeEnd = FrameClock::now();
        CountDecode(*frame, decoded);
        if (decoded) {
            CountDecodeTime(m_pictureStamps.decodeEnd - m_pictureStamps.decodeStart);
            m_lastDecoded = PictureSize{picture.width, picture.height};
            DebugOutput("Decode succeed\n");
            ++m_counters.framesDecoded;
            m_codec.store(m_decoder->codec, std::memory_order_relaxed);
            Present(picture);
        } else {
            DebugOutput("Decode failed\n");
            ++m_counters.decodeFailures;
        }
        frame.reset();
    }
    // Only a stop ends the loop, and the StopDecoding or StartDecoding that
    // must follow closes the decoder anyway. Closed here, its cost (about
    // half a millisecond a D1 tile in a busy wall) falls on this thread: a
    // server's tiles stop together, and the user-interface thread would
    // otherwise pay it once per tile.
    m_decoderClosedOnExit = m_decoder != nullptr;
    CloseDecoder(m_decoder);
}

void VideoPipeline::CountDecodeTime(std::chrono::nanoseconds spent) {
    m_counters.decodeNanoseconds += uint64_t(spent.count());
    // Relaxed max: the reader only wants the largest since it last looked.
    int64_t longest = m_longestDecodeNs.load(std::memory_order_relaxed);
    while (spent.count() > longest && !m_longestDecodeNs.compare_exchange_weak(
                                          longest, spent.count(), std::memory_order_relaxed)) {
    }
}

void VideoPipeline::ClearTrouble() {
    // Stored only when set: a stream that decodes well writes nothing here
    // per frame.
    if (m_failedInRow.load(std::memory_order_relaxed) != 0)
        m_failedInRow.store(0, std::memory_order_relaxed);
    if (m_failedKeyFramesInRow.load(std::memory_order_relaxed) != 0)
        m_failedKeyFramesInRow.store(0, std::memory_order_relaxed);
    if (m_tooLarge.load(std::memory_order_relaxed))
        m_tooLarge.store(false, std::memory_order_relaxed);
}

void VideoPipeline::CountDecode(const CFrame& frame, bool decoded) {
    if (decoded) {
        ClearTrouble();
        return;
    }
    m_failedInRow.fetch_add(1, std::memory_order_relaxed);
    if (frame.keyFrame != 0)
        m_failedKeyFramesInRow.fetch_add(1, std::memory_order_relaxed);
}

DecodeTrouble VideoPipeline::Trouble() const {
    if (m_tooLarge.load(std::memory_order_relaxed))
        return DecodeTrouble::kTooLarge;
    if (m_failedInRow.load(std::memory_order_relaxed) >= m_limits.undecodableRun ||
        m_failedKeyFramesInRow.load(std::memory_order_relaxed) >= m_limits.undecodableKeyFrames)
        return DecodeTrouble::kUndecodable;
    return DecodeTrouble::kNone;
}

bool VideoPipeline::WithinLimit(const PlanarPicture& picture) const {
    return size_t(picture.width) * size_t(picture.height) <= m_limits.maxPicturePixels;
}

bool VideoPipeline::Decode(const CFrame& frame, PlanarPicture* picture) {
    if (!m_decoder)
        return false;
    if (DecodeToPicture(*m_decoder, frame.bytes.get(), frame.length, picture) !=
        DecodeStatus::kPicture) {
        // The decoder refuses a key frame whose sequence parameter set
        // announces more than the limit before decoding anything: that
        // picture is too large, not undecodable.
        if (frame.keyFrame != 0) {
            const size_t length = size_t(std::max(0, frame.length));
            const VideoCodec codec = DetectCodec(frame.bytes.get(), length);
            if (AnnouncedPixels(codec, frame.bytes.get(), length) > m_limits.maxPicturePixels)
                m_tooLarge.store(true, std::memory_order_relaxed);
        }
        return false;
    }
    if (!WithinLimit(*picture)) {
        // Decoded, but never shown: it would take more memory than any
        // camera's picture needs.
        m_tooLarge.store(true, std::memory_order_relaxed);
        return false;
    }
    return true;
}

void VideoPipeline::Present(const PlanarPicture& picture) {
    const PictureView view = View();
    for (SnapshotKind kind : {SnapshotKind::kPicture, SnapshotKind::kView}) {
        if (SnapshotOf(kind).load() == SnapshotState::kAsked)
            HandOverSnapshot(picture, kind, view.part);
    }

    const PictureSize target = TargetSize(view, picture.width, picture.height);
    const ConversionPath path = m_path.load();
    const Sampling sampling = m_sampling.load();
    ptrdiff_t stride = 0;
    uint32_t* buffer = m_sink != nullptr && m_sink->HasPictureBuffer()
                           ? m_sink->PictureBuffer(target.width, target.height, &stride)
                           : nullptr;
    if (buffer != nullptr) {
        ConvertSampled(path, picture, view.turned, buffer, stride, target.width, target.height,
                       m_scratch, view.part, sampling);
        m_sink->OnPictureReady(picture.width, picture.height, view.part);
    } else {
        if (!m_screen.Reserve(size_t(target.width) * size_t(target.height), m_counters.bufferBytes))
            return;
        ConvertSampled(path, picture, view.turned, m_screen.data.get(), target.width, target.width,
                       target.height, m_scratch, view.part, sampling);
        if (m_sink != nullptr)
            m_sink->OnPicture(m_screen.data.get(), target.width, target.height);
    }
    ++m_counters.picturesDrawn;
    PauseAfterPicture();
}

void VideoPipeline::HandOverSnapshot(const PlanarPicture& picture, SnapshotKind kind,
                                     const ViewRect& part) {
    // Writing before the hand-over: a fast worker may be done before Submit returns.
    SnapshotOf(kind).store(SnapshotState::kWriting);
    const std::shared_ptr<SnapshotWorker> worker = SharedSnapshotWorker();
    const PlanarPicture written = kind == SnapshotKind::kView ? CropToPart(picture, part) : picture;
    const bool handed = worker->Submit(
        written,
        [outcomes = m_outcomes, kind](bool ok, const std::string& path) {
            std::lock_guard lock(outcomes->mutex);
            if (outcomes->pipeline != nullptr)
                outcomes->pipeline->SnapshotDone(kind, ok, path);
        },
        kind);
    if (!handed) {
        std::lock_guard lock(m_outcomes->mutex);
        SnapshotDone(kind, false, {});
    }
}

void VideoPipeline::SnapshotDone(SnapshotKind kind, bool ok, const std::string& path) {
    // Cleared with the report: a request made while the file was being written
    // is served by this file.
    SnapshotOf(kind).store(SnapshotState::kNone);
    ++(ok ? m_counters.snapshotsWritten : m_counters.snapshotsFailed);
    if (m_sink != nullptr)
        m_sink->OnSnapshotWritten(ok, path);
}

void VideoPipeline::PauseAfterPicture() {
    const int pauseMs = m_pauseMs.load();
    if (pauseMs <= 0)
        return;
    std::unique_lock lock(m_queueMutex);
    m_queueCv.wait_for(lock, std::chrono::milliseconds(pauseMs), [this] { return m_stop; });
}

}  // namespace kavrel
