#include "video/VideoPipeline.h"

#include <pthread.h>

#include <algorithm>
#include <new>
#include <system_error>

#include "platform/DebugSink.h"
#include "video/PictureTransform.h"

namespace kavrel {

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
    : m_sink(sink), m_limits(limits) {
    m_tables.Build();
}

VideoPipeline::~VideoPipeline() {
    StopDecoding();
}

void VideoPipeline::EndThread() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_queueMutex);
        m_stop = true;
    }
    m_queueCv.notify_all();
    m_thread.join();
}

void VideoPipeline::FreeDecoding() {
    CloseDecoder(m_decoder);
    m_planar.Free(m_counters.bufferBytes);
    m_screen.Free(m_counters.bufferBytes);
    m_rgb.Free(m_counters.bufferBytes);
    m_rotation.Free(m_counters.bufferBytes);
}

void VideoPipeline::StartDecoding(const StreamFormatInfo& format) {
    std::lock_guard control(m_controlMutex);
    EndThread();
    FreeDecoding();

    m_decoder = m_faults.failOpenDecoder ? nullptr : OpenDecoder();
    if (!m_decoder) {
        DebugOutput("Init codec failed\n");
    } else {
        // The announcement only reserves room up to a cap; a larger picture
        // gets its buffers when it is actually decoded, and a failed
        // reservation here is retried then.
        const size_t pixels =
            std::min(size_t(format.Width()) * size_t(format.Height()), m_limits.maxReservedPixels);
        if (m_planar.Reserve(pixels + pixels / 2, m_counters.bufferBytes)) {
            m_screen.Reserve(pixels, m_counters.bufferBytes);
        }
        m_tables.Build();
    }

    {
        std::lock_guard lock(m_queueMutex);
        m_stop = false;
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

    FrameQueue released;
    {
        std::lock_guard lock(m_queueMutex);
        released.swap(m_queue);
        m_queuedBytes = 0;
    }
    m_counters.framesDiscarded += released.size();

    // A pending snapshot belongs to the pictures that stop here: served later,
    // it would be of another channel or minutes late. It fails now instead.
    if (m_snapshotRequest.exchange(false)) {
        ++m_counters.snapshotsFailed;
        if (m_sink != nullptr)
            m_sink->OnSnapshotWritten(false, {});
    }
    // The frames are freed here, outside the queue lock.
}

void VideoPipeline::AddFrame(const uint8_t* bytes, int length, int keyFrame) {
    std::unique_ptr<CFrame> frame = MakeFrame(bytes, length, keyFrame);
    if (!frame) {
        ++m_counters.framesRefused;
        return;
    }
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
    m_queueCv.notify_one();
}

void VideoPipeline::RequestSnapshot() {
    m_snapshotRequest.store(true);
}
bool VideoPipeline::SnapshotPending() const {
    return m_snapshotRequest.load();
}

void VideoPipeline::SetFullScreen(bool on) {
    m_fullScreen.store(on);
}
bool VideoPipeline::IsFullScreen() const {
    return m_fullScreen.load();
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
    c.framesRefused = m_counters.framesRefused.load();
    c.framesDecoded = m_counters.framesDecoded.load();
    c.decodeFailures = m_counters.decodeFailures.load();
    c.framesDropped = m_counters.framesDropped.load();
    c.framesDiscarded = m_counters.framesDiscarded.load();
    c.picturesDrawn = m_counters.picturesDrawn.load();
    c.snapshotsWritten = m_counters.snapshotsWritten.load();
    c.snapshotsFailed = m_counters.snapshotsFailed.load();
    c.bufferBytes = m_counters.bufferBytes.load();
    return c;
}

size_t VideoPipeline::QueuedFrames() const {
    std::lock_guard lock(m_queueMutex);
    return m_queue.size();
}

bool VideoPipeline::IsDecoding() const {
    std::lock_guard control(m_controlMutex);
    return m_thread.joinable();
}

void VideoPipeline::SetFaultInjection(FaultInjection faults) {
    std::lock_guard control(m_controlMutex);
    m_faults = faults;
}

std::unique_ptr<CFrame> VideoPipeline::TakeFrame() {
    std::vector<std::unique_ptr<CFrame>> dropped;
    std::unique_ptr<CFrame> frame;
    DropPolicyResult policy;
    {
        std::unique_lock lock(m_queueMutex);
        m_queueCv.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_stop)
            return nullptr;
        // The policy pass and the take that follows it form one step under the lock.
        policy = ApplyDropPolicy(m_queue, &dropped);
        for (const auto& gone : dropped)
            m_queuedBytes -= size_t(gone->length);
        frame = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedBytes -= size_t(frame->length);
    }
    if (policy.ran)
        DebugOutput("Drop frame\n");
    m_counters.framesDropped += dropped.size();
    return frame;  // the dropped frames are freed here, outside the lock
}

void VideoPipeline::DecodeLoop() {
    pthread_setname_np(pthread_self(), "kavrel-decode");
    while (std::unique_ptr<CFrame> frame = TakeFrame()) {
        int width = 0;
        int height = 0;
        if (Decode(*frame, &width, &height)) {
            DebugOutput("Decode succeed\n");
            ++m_counters.framesDecoded;
            Present(width, height);
        } else {
            DebugOutput("Decode failed\n");
            ++m_counters.decodeFailures;
        }
    }
}

bool VideoPipeline::Decode(const CFrame& frame, int* width, int* height) {
    if (!m_decoder)
        return false;
    const DecodeStatus status = DecodeFrame(*m_decoder, frame.bytes.get(), frame.length,
                                            m_planar.data.get(), m_planar.capacity, width, height);
    if (status == DecodeStatus::kPicture)
        return true;
    if (status == DecodeStatus::kFailed)
        return false;

    // Larger than the buffer: grow to what was decoded, within the limit.
    if (size_t(*width) * size_t(*height) > m_limits.maxPicturePixels)
        return false;
    const size_t needed = PlanarLayoutFor(*width, *height).totalBytes;
    if (!m_planar.Reserve(needed, m_counters.bufferBytes))
        return false;
    return CopyHeldPicture(*m_decoder, m_planar.data.get(), m_planar.capacity);
}

void VideoPipeline::Present(int width, int height) {
    const size_t pixels = size_t(width) * size_t(height);
    if (m_snapshotRequest.load())
        WriteRequestedSnapshot(width, height);

    if (!m_screen.Reserve(pixels, m_counters.bufferBytes))
        return;
    ConvertToScreen(m_path.load(), m_tables, m_planar.data.get(), m_screen.data.get(), width,
                    height);

    if (m_fullScreen.load()) {
        if (!m_rotation.Reserve(pixels, m_counters.bufferBytes))
            return;
        RotateClockwise(m_screen.data.get(), m_rotation.data.get(), width, height);
        if (m_sink != nullptr)
            m_sink->OnPicture(m_rotation.data.get(), height, width);
    } else {
        if (m_sink != nullptr)
            m_sink->OnPicture(m_screen.data.get(), width, height);
    }
    ++m_counters.picturesDrawn;
    PauseAfterPicture();
}

void VideoPipeline::WriteRequestedSnapshot(int width, int height) {
    bool ok = false;
    std::string path;
    if (m_rgb.Reserve(3 * size_t(width) * size_t(height), m_counters.bufferBytes)) {
        ConvertToRgb(m_tables, m_planar.data.get(), m_rgb.data.get(), width, height);
        ok = m_snapshots.WriteSnapshot(width, height, m_rgb.data.get(), &path);
    }
    // Cleared after writing: a request made meanwhile is served by this file.
    m_snapshotRequest.store(false);
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
