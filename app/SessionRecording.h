#pragma once
// The recording side of one viewing session: the frames since the latest key
// frame (so that R mid-GOP starts a clip at once), the running ClipRecorder
// and the recorders still closing their files, and the status texts of all
// that.
//
// A recording runs from Start until Stop or a failure. An interruption of the
// stream (a reconnection) closes the file; the recording goes on with a new
// file from the next connection's first key frame, the gap not bridged.
//
// Threads: OnFrame runs on the session's receive thread; everything else on
// the user-interface thread, which owns this object. The recorders' reports
// come from their writer threads and are posted here.

#include <QObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "record/ClipRecorder.h"

namespace kavrel {

class SessionRecording : public QObject {
    Q_OBJECT

  public:
    using TextOf = std::function<QString(std::u16string_view key)>;
    // The kept frames since the latest key frame, at most (a stream whose key
    // frames are further apart keeps none until its next key frame).
    static constexpr size_t kPreRollBytes = 8u << 20;
    static constexpr size_t kPreRollFrames = 300;

    SessionRecording(TextOf text, QObject* parent = nullptr);
    // Ends the recording without waiting for the disk: its recorders close
    // their files on a thread of their own, and their reports are dropped.
    ~SessionRecording() override;
    // Waits, at most `limit`, until every file whose session has gone is
    // closed; true when none is left. The program's end calls it, so that no
    // clip is cut short by the process ending.
    static bool WaitForClosingFiles(std::chrono::milliseconds limit);

    // --- User-interface thread ---
    // Starts recording: files named from `namePrefix`, beginning with the
    // kept key frame and the frames after it.
    void Start(const std::string& namePrefix);
    void Stop();
    // The stream was interrupted: the file ends here; a recording goes on in
    // a new file from the next key frame. The kept frames are dropped.
    void Interrupt();
    bool Active() const { return m_active; }
    // Files of this recording are still being written out and closed.
    bool ClosingFiles() const { return !m_closing.empty(); }
    // Since Start (zero when not recording).
    std::chrono::steady_clock::duration Elapsed() const;

    // Where the next recording's files go (default: the videos folder) and
    // how long a file runs before the next starts.
    void SetFolder(std::filesystem::path folder) { m_options.folder = std::move(folder); }
    const std::filesystem::path& Folder() const { return m_options.folder; }
    void SetFileLength(std::chrono::seconds length) { m_options.fileLength = length; }
    // The queue before the disk (tests make it small).
    void SetQueueLimits(size_t bytes, size_t frames);
    // The last file finished or failed, as its recorder reported it.
    const record::ClipSummary& LastClip() const { return m_lastClip; }
    // Frames handed to recorders since Start (the kept ones included).
    int64_t FramesHandedOver();
    // Every file finished so far (tests and tools).
    const std::vector<record::ClipSummary>& Clips() const { return m_clips; }

    // Any thread: runs `visit` on each kept frame, oldest first, under the
    // lock OnFrame takes (so no frame arrives meanwhile).
    using FrameVisitor = std::function<void(const SharedFrameBytes& bytes, bool keyFrame,
                                            std::chrono::steady_clock::time_point arrival)>;
    void ForEachKeptFrame(const FrameVisitor& visit);

    // --- Receive thread ---
    // One received frame, stamped with its arrival time. The kept frames and
    // the recorder hold `bytes` itself (shared with the decode queue), so
    // keeping frames copies nothing.
    void OnFrame(SharedFrameBytes bytes, bool keyFrame,
                 std::chrono::steady_clock::time_point arrival);

  signals:
    void statusShown(const QString& text);
    // The recording began or ended (by Stop or a failure).
    void activeChanged(bool active);
    // The last file being closed has been closed (ClosingFiles() is false).
    void filesClosed();

  private:
    // Makes the recorder that receives the frames from now on, fed first with
    // the kept frames. Requires m_mutex.
    void StartRecorderLocked();
    // Moves the running recorder (if any) to the closing ones, finishing it.
    void EndRecorder();
    void OnReport(uint64_t id, const record::RecorderReport& report);
    QString FileText(std::u16string_view key, const std::filesystem::path& file) const;

    // The recorders' way back to this object; cut by the destructor.
    struct Relay {
        std::mutex mutex;
        SessionRecording* target = nullptr;  // guarded by mutex
    };
    const std::shared_ptr<Relay> m_relay = std::make_shared<Relay>();
    const TextOf m_text;
    record::RecorderOptions m_options;  // user-interface thread
    bool m_active = false;              // user-interface thread
    std::chrono::steady_clock::time_point m_since;
    record::ClipSummary m_lastClip;
    std::vector<record::ClipSummary> m_clips;
    // Finishing their files; removed when they report Ended (user-interface thread).
    std::vector<std::pair<uint64_t, std::unique_ptr<record::ClipRecorder>>> m_closing;
    uint64_t m_recorderId = 0;  // user-interface thread: the running recorder's

    std::mutex m_mutex;
    // References to received buffers: the bound is on the bytes they keep alive.
    std::vector<record::RecordedFrame> m_preRoll;      // guarded by m_mutex
    size_t m_preRollBytes = 0;                         // guarded by m_mutex
    std::unique_ptr<record::ClipRecorder> m_recorder;  // guarded by m_mutex
    int64_t m_handedOver = 0;                          // guarded by m_mutex
};

}  // namespace kavrel
