#include "app/SessionRecording.h"

#include <QMetaObject>
#include <algorithm>
#include <condition_variable>
#include <system_error>
#include <thread>

#include "platform/DebugSink.h"
#include "record/ClipFolder.h"

namespace kavrel {

namespace {

// Threads closing the files of sessions that have gone.
std::mutex g_closingMutex;
std::condition_variable g_closingDone;
int g_closingThreads = 0;  // guarded by g_closingMutex

}  // namespace

SessionRecording::SessionRecording(TextOf text, QObject* parent)
    : QObject(parent), m_text(std::move(text)) {
    m_options.folder = record::DefaultClipFolder();
    m_relay->target = this;
}

SessionRecording::~SessionRecording() {
    {
        std::lock_guard lock(m_relay->mutex);
        m_relay->target = nullptr;
    }
    // Each recorder's destructor writes what is queued and closes its file,
    // which may take as long as the disk wants: a page turn of the camera wall
    // or a closed tile must not wait for it.
    std::vector<std::unique_ptr<record::ClipRecorder>> recorders;
    {
        std::lock_guard lock(m_mutex);
        if (m_recorder)
            recorders.push_back(std::move(m_recorder));
    }
    for (auto& [id, recorder] : m_closing)
        recorders.push_back(std::move(recorder));
    if (recorders.empty())
        return;
    for (auto& recorder : recorders)
        recorder->Finish();
    std::unique_lock lock(g_closingMutex);
    ++g_closingThreads;
    try {
        std::thread([recorders = std::move(recorders)]() mutable {
            recorders.clear();
            std::lock_guard done(g_closingMutex);
            --g_closingThreads;
            g_closingDone.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        --g_closingThreads;
        lock.unlock();
        recorders.clear();  // no thread to spare: close them here
    }
}

bool SessionRecording::WaitForClosingFiles(std::chrono::milliseconds limit) {
    std::unique_lock lock(g_closingMutex);
    return g_closingDone.wait_for(lock, limit, [] { return g_closingThreads == 0; });
}

void SessionRecording::SetQueueLimits(size_t bytes, size_t frames) {
    m_options.queueBytes = bytes;
    m_options.queueFrames = frames;
}

int64_t SessionRecording::FramesHandedOver() {
    std::lock_guard lock(m_mutex);
    return m_handedOver;
}

std::chrono::steady_clock::duration SessionRecording::Elapsed() const {
    return m_active ? std::chrono::steady_clock::now() - m_since
                    : std::chrono::steady_clock::duration{};
}

void SessionRecording::Start(const std::string& namePrefix) {
    if (m_active)
        return;
    DebugOutput("Record\n");
    m_options.namePrefix = namePrefix;
    m_active = true;
    m_since = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(m_mutex);
        m_handedOver = 0;
        StartRecorderLocked();
    }
    emit activeChanged(true);
}

void SessionRecording::Stop() {
    if (!m_active)
        return;
    DebugOutput("Record stop\n");
    m_active = false;
    EndRecorder();
    emit activeChanged(false);
}

void SessionRecording::Interrupt() {
    EndRecorder();
    std::lock_guard lock(m_mutex);
    m_preRoll.clear();
    m_preRollBytes = 0;
    if (m_active)
        StartRecorderLocked();
}

void SessionRecording::StartRecorderLocked() {
    const uint64_t id = ++m_recorderId;
    m_recorder = std::make_unique<record::ClipRecorder>(
        m_options, [relay = m_relay, id](const record::RecorderReport& report) {
            std::lock_guard lock(relay->mutex);
            if (SessionRecording* target = relay->target) {
                QMetaObject::invokeMethod(
                    target, [target, id, report] { target->OnReport(id, report); },
                    Qt::QueuedConnection);
            }
        });
    for (const record::RecordedFrame& frame : m_preRoll)
        m_recorder->Push(frame);
    m_handedOver += int64_t(m_preRoll.size());
}

void SessionRecording::EndRecorder() {
    std::unique_ptr<record::ClipRecorder> ended;
    {
        std::lock_guard lock(m_mutex);
        ended = std::move(m_recorder);
    }
    if (!ended)
        return;
    // Returns at once: the writer closes the file and reports Ended.
    ended->Finish();
    m_closing.emplace_back(m_recorderId, std::move(ended));
}

void SessionRecording::OnFrame(SharedFrameBytes bytes, bool keyFrame,
                               std::chrono::steady_clock::time_point arrival) {
    if (!bytes.data)
        return;
    record::RecordedFrame frame{std::move(bytes), keyFrame, arrival};
    std::lock_guard lock(m_mutex);
    if (m_recorder) {
        m_recorder->Push(frame);
        ++m_handedOver;
    }
    if (keyFrame) {
        m_preRoll.clear();
        m_preRollBytes = 0;
    } else if (m_preRoll.empty() || m_preRoll.size() >= kPreRollFrames ||
               m_preRollBytes + frame.bytes.size > kPreRollBytes) {
        // No key frame to start from, or too long since it: keep nothing
        // until the next one.
        m_preRoll.clear();
        m_preRollBytes = 0;
        return;
    }
    m_preRollBytes += frame.bytes.size;
    m_preRoll.push_back(std::move(frame));
}

void SessionRecording::ForEachKeptFrame(const FrameVisitor& visit) {
    std::lock_guard lock(m_mutex);
    for (const record::RecordedFrame& frame : m_preRoll)
        visit(frame.bytes, frame.keyFrame, frame.arrival);
}

QString SessionRecording::FileText(std::u16string_view key,
                                   const std::filesystem::path& file) const {
    QString text = m_text(key);
    text.replace(QStringLiteral("%s"), QString::fromStdString(file.filename().string()));
    return text;
}

void SessionRecording::OnReport(uint64_t id, const record::RecorderReport& report) {
    using Kind = record::RecorderReport::Kind;
    switch (report.kind) {
        case Kind::FileStarted:
            emit statusShown(FileText(u"record_started", report.summary.file));
            break;
        case Kind::FileFinished:
            m_lastClip = report.summary;
            m_clips.push_back(report.summary);
            emit statusShown(FileText(u"record_saved", report.summary.file));
            break;
        case Kind::FramesDropped:
            emit statusShown(m_text(u"record_dropped"));
            break;
        case Kind::Failed: {
            m_lastClip = report.summary;
            const std::u16string_view key =
                report.failure == record::WriteFailure::FolderUnwritable ? u"record_folder_failed"
                : report.failure == record::WriteFailure::DiskFull       ? u"record_disk_full"
                                                                         : u"record_write_failed";
            emit statusShown(m_text(key));
            // Only the running recorder's failure ends the recording.
            if (id == m_recorderId && m_active) {
                m_active = false;
                EndRecorder();
                emit activeChanged(false);
            }
            break;
        }
        case Kind::Ended: {
            auto done = std::find_if(m_closing.begin(), m_closing.end(),
                                     [id](const auto& entry) { return entry.first == id; });
            if (done != m_closing.end()) {
                m_closing.erase(done);  // its thread has ended: the join is immediate
                if (m_closing.empty())
                    emit filesClosed();
            }
            break;
        }
    }
}

}  // namespace kavrel
