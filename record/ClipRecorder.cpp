#include "record/ClipRecorder.h"

#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <system_error>
#include <utility>

namespace kavrel::record {
namespace {

namespace fs = std::filesystem;

constexpr int kNameAttempts = 100;
// The last frame of a clip whose stream gave no interval yet lasts one frame at 25/s.
constexpr Clock::duration kDefaultInterval = std::chrono::milliseconds(40);

int64_t Ticks(Clock::duration span) {
    const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(span).count();
    return ns * ClipMuxer::kTimeBase / 1'000'000'000;
}

// Makes `folder` and its missing parents, each 0700: clips show what a
// camera saw and are the user's alone.
bool MakeFolder(const fs::path& folder) {
    std::error_code error;
    if (fs::is_directory(folder, error))
        return true;
    fs::path partial;
    for (const fs::path& part : folder) {
        partial /= part;
        if (fs::is_directory(partial, error))
            continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return fs::is_directory(folder, error);
}

}  // namespace

ClipRecorder::ClipRecorder(RecorderOptions options, Listener listener)
    : m_options(std::move(options)), m_listener(std::move(listener)) {
    m_writer = std::thread([this] { WriterLoop(); });
}

ClipRecorder::~ClipRecorder() {
    Finish();
    if (m_writer.joinable())
        m_writer.join();
}

void ClipRecorder::Push(RecordedFrame frame) {
    std::lock_guard lock(m_mutex);
    if (m_finishing || m_failed)
        return;
    const bool room = m_queue.size() < m_options.queueFrames &&
                      m_queuedBytes + frame.bytes.size <= m_options.queueBytes;
    if (m_dropUntilKey && !(frame.keyFrame && room)) {
        ++m_dropped;
        return;
    }
    if (!room) {
        // The disk cannot keep up: the next frame the clip can go on from is
        // the next key frame.
        m_dropUntilKey = true;
        m_gapToReport = true;
        ++m_dropped;
        return;
    }
    m_dropUntilKey = false;
    m_queuedBytes += frame.bytes.size;
    // The writer is woken once a fragment: by the frame after a key frame,
    // which gives the key frame its duration, so the fragment that key frame
    // closed reaches the disk as soon as it would frame by frame. A long
    // stretch without key frames wakes it when the queue is half full, well
    // before anything has to be dropped.
    const bool due = m_lastQueuedKey || m_queue.size() + 1 >= (m_options.queueFrames + 1) / 2 ||
                     m_queuedBytes >= m_options.queueBytes / 2;
    m_lastQueuedKey = frame.keyFrame;
    m_queue.push_back(std::move(frame));
    if (due && !m_writeDue) {
        m_writeDue = true;
        m_wake.notify_one();
    }
}

void ClipRecorder::Finish() {
    std::lock_guard lock(m_mutex);
    m_finishing = true;
    m_wake.notify_one();
}

int64_t ClipRecorder::DroppedFrames() const {
    std::lock_guard lock(m_mutex);
    return m_dropped;
}

fs::path ClipRecorder::FreeName(const fs::path& folder, const std::string& prefix,
                                std::chrono::system_clock::time_point start, int attempt) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(start);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::string name = prefix + "_" + stamp;
    if (attempt > 1)
        name += "-" + std::to_string(attempt);
    return folder / (name + ".mp4");
}

void ClipRecorder::WriterLoop() {
    pthread_setname_np(pthread_self(), "kavrel-record");  // in profiles and the bench
    for (;;) {
        RecordedFrame frame;
        bool gap = false;
        {
            std::unique_lock lock(m_mutex);
            // Drained: asleep until the next fragment is due.
            if (m_queue.empty())
                m_writeDue = false;
            m_wake.wait(
                lock, [&] { return (m_writeDue && !m_queue.empty()) || m_finishing || m_failed; });
            if (m_failed || m_queue.empty())
                break;
            frame = std::move(m_queue.front());
            m_queue.pop_front();
            m_queuedBytes -= frame.bytes.size;
            gap = std::exchange(m_gapToReport, false);
        }
        if (gap)
            Report(RecorderReport::Kind::FramesDropped);
        if (!WriteFrame(frame))
            break;
    }
    if (m_muxer)
        CloseFile(m_pendingArrival +
                  (m_lastInterval.count() > 0 ? m_lastInterval : kDefaultInterval));
    Report(RecorderReport::Kind::Ended);
}

bool ClipRecorder::WriteFrame(RecordedFrame& frame) {
    const VideoCodec known =
        m_format.codec == VideoCodec::kUnknown ? VideoCodec::kH264 : m_format.codec;
    const std::span<const uint8_t> bytes = frame.bytes.Span();
    if (SplitAnnexB(bytes, known).empty())
        return true;  // not a byte stream: skipped
    if (frame.keyFrame) {
        const VideoCodec codec = DetectCodec(bytes.data(), bytes.size());
        const std::vector<uint8_t> sets =
            codec == VideoCodec::kUnknown ? std::vector<uint8_t>{} : ParameterSets(bytes, codec);
        const bool changed = !sets.empty() && sets != m_format.parameterSets;
        const bool due = m_muxer && frame.arrival - m_summary.first >= m_options.fileLength;
        // A file that could not be closed ends the recording: its failure is
        // this recorder's last word, not followed by a next file's start.
        if (m_muxer && (changed || due) && !CloseFile(frame.arrival))
            return false;
        if (!m_muxer) {
            if (changed) {
                ClipFormat format{codec, 0, 0, sets};
                if (!ProbePictureSize(codec, bytes, &format.width, &format.height))
                    return true;  // no picture size to describe: wait for another
                m_format = std::move(format);
            }
            if (m_format.parameterSets.empty())
                return true;  // nothing to describe the codec with yet
            if (!OpenFile(frame))
                return false;
        }
    } else if (!m_muxer) {
        return true;  // a clip begins with a key frame
    }
    if (m_pending.data && !WritePending(frame.arrival))
        return false;
    m_pending = std::move(frame.bytes);
    m_pendingKey = frame.keyFrame;
    m_pendingArrival = frame.arrival;
    return true;
}

bool ClipRecorder::OpenFile(const RecordedFrame& keyFrame) {
    m_summary = ClipSummary{};
    m_summary.first = keyFrame.arrival;
    m_lastInterval = {};
    if (!MakeFolder(m_options.folder)) {
        m_summary.file = m_options.folder;
        Fail(WriteFailure::FolderUnwritable);
        return false;
    }
    const auto start = std::chrono::system_clock::now();
    WriteFailure failure = WriteFailure::WriteFailed;
    int error = 0;
    for (int attempt = 1; attempt <= kNameAttempts && !m_muxer; ++attempt) {
        m_summary.file = FreeName(m_options.folder, m_options.namePrefix, start, attempt);
        m_muxer = ClipMuxer::Create(m_summary.file, m_format, &failure, &error);
        if (!m_muxer && error != EEXIST) {
            // Made but not written: no empty file stays behind.
            std::error_code ignored;
            if (fs::file_size(m_summary.file, ignored) == 0)
                fs::remove(m_summary.file, ignored);
            Fail(failure);
            return false;
        }
    }
    if (!m_muxer) {
        Fail(WriteFailure::WriteFailed);
        return false;
    }
    Report(RecorderReport::Kind::FileStarted);
    return true;
}

bool ClipRecorder::WritePending(Clock::time_point next) {
    // Frames of one network burst may share a tick: each still gets one of
    // its own, as the file needs strictly increasing time stamps.
    int64_t pts = Ticks(m_pendingArrival - m_summary.first);
    if (m_summary.frames > 0)
        pts = std::max(pts, m_lastPts + 1);
    const int64_t duration = std::max<int64_t>(1, Ticks(next - m_summary.first) - pts);
    m_lastPts = pts;
    if (next > m_pendingArrival)
        m_lastInterval = next - m_pendingArrival;
    if (!m_muxer->Write(m_pending.Span(), pts, duration, m_pendingKey)) {
        Fail(m_muxer->Failure());
        return false;
    }
    ++m_summary.frames;
    m_summary.frameBytes += int64_t(m_pending.size);
    m_summary.end = next;
    m_pending = {};
    return true;
}

bool ClipRecorder::CloseFile(Clock::time_point end) {
    if (m_pending.data && !WritePending(end))
        return false;  // Fail has reported and closed
    const bool ok = m_muxer->Finish();
    m_summary.fileBytes = m_muxer->BytesWritten();
    const WriteFailure failure = m_muxer->Failure();
    m_muxer.reset();
    if (!ok) {
        Fail(failure == WriteFailure::None ? WriteFailure::WriteFailed : failure);
        return false;
    }
    Report(RecorderReport::Kind::FileFinished);
    return true;
}

void ClipRecorder::Fail(WriteFailure failure) {
    if (m_muxer) {
        m_summary.fileBytes = m_muxer->BytesWritten();
        m_muxer.reset();  // what reached the file stays: its fragments play
    }
    m_pending = {};
    {
        std::lock_guard lock(m_mutex);
        m_failed = true;
        m_queue.clear();
        m_queuedBytes = 0;
    }
    Report(RecorderReport::Kind::Failed, failure);
}

void ClipRecorder::Report(RecorderReport::Kind kind, WriteFailure failure) {
    if (m_listener)
        m_listener(RecorderReport{kind, failure, m_summary});
}

}  // namespace kavrel::record
