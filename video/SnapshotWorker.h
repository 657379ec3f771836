#pragma once
// Writes snapshots on a thread of its own, so that a slow disk or a folder on
// a network holds up neither the decode thread nor a Stop that waits for it.
//
// The decode thread hands over a copy of the decoded picture (its planes
// packed, half the size of the 24-bit picture made from them); this thread
// converts it with the design's tables, writes the file through its
// SnapshotWriter and reports the outcome to the job's callback.
//
// Lifetime: several pipelines may share one worker (the video windows of one
// main window), held by std::shared_ptr. Whoever holds it last waits in the
// destructor for every job handed over, so a snapshot being written is never
// cut short by the end of the process; the main window's video window holds
// it until the program ends, so only leaving the program waits for a disk.
//
// Threads: Submit, Pending, Writer from any thread; the destructor on any
// thread but the worker's own (a callback must not release the last owner).

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "video/ColourTables.h"
#include "video/PlanarPicture.h"
#include "video/SnapshotWriter.h"

namespace kavrel {

class SnapshotWorker {
  public:
    // ok and the file's path as SnapshotWriter::WriteSnapshot gives them.
    // Called on the worker's thread, one job at a time.
    using Done = std::function<void(bool ok, const std::string& path)>;

    // Pictures waiting beyond this many bytes are refused (a burst of
    // captures on a disk that does not keep up); one picture is always taken
    // when none waits, whatever its size.
    static constexpr size_t kDefaultMaxPendingBytes = size_t(96) << 20;

    explicit SnapshotWorker(size_t maxPendingBytes = kDefaultMaxPendingBytes);
    ~SnapshotWorker();  // writes every job handed over, then ends the thread
    SnapshotWorker(const SnapshotWorker&) = delete;
    SnapshotWorker& operator=(const SnapshotWorker&) = delete;

    // The folder, clock and write hook of the files written here.
    SnapshotWriter& Writer() { return m_writer; }

    // Copies `picture` and queues it; `done` follows on the worker's thread.
    // False, and `done` is never called, when the picture is empty, the copy
    // finds no memory, the queue is full or the thread cannot start: the
    // caller reports that failure itself.
    bool Submit(const PlanarPicture& picture, Done done,
                SnapshotKind kind = SnapshotKind::kPicture);
    // Jobs handed over and not finished yet (the one being written included).
    size_t Pending() const;

  private:
    struct Job {
        std::unique_ptr<uint8_t[]> planar;  // PlanarLayoutFor(width, height)
        size_t bytes = 0;
        int width = 0;
        int height = 0;
        SnapshotKind kind = SnapshotKind::kPicture;
        Done done;
    };
    void Run();  // the worker's thread

    const size_t m_maxPendingBytes;
    SnapshotWriter m_writer;  // thread-safe on its own
    ColourTables m_tables;    // built once in the constructor, then only read

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;  // a job arrived or the destructor runs
    std::deque<Job> m_jobs;          // guarded by m_mutex
    size_t m_pendingBytes = 0;       // guarded by m_mutex: of m_jobs and the job being written
    size_t m_pendingJobs = 0;        // guarded by m_mutex: likewise
    bool m_ending = false;           // guarded by m_mutex
    std::thread m_thread;            // started by the first Submit, under m_mutex
};

}  // namespace kavrel
