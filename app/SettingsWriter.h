#pragma once
// Settings writes off the user-interface thread. A write of the settings
// store rewrites the whole file and syncs it, which on a slow or busy disk
// takes longer than a frame; a wall that saves its view whenever it changes
// must not freeze for it.
//
// Jobs run one after another, in the order posted, on a thread of the
// writer's own (started with the first job). A job's outcome comes back as a
// call queued to the user-interface thread, made only while `context` still
// exists: the main windows share one writer, and a window closed before its
// write ended hears nothing.
//
// Threads: Post and Flush from the owner's thread; jobs on the writer's.

#include <QObject>
#include <QPointer>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kavrel {

class SettingsWriter {
  public:
    SettingsWriter() = default;
    // Runs what is still queued, then joins: only leaving the program waits.
    ~SettingsWriter();
    SettingsWriter(const SettingsWriter&) = delete;
    SettingsWriter& operator=(const SettingsWriter&) = delete;

    // `job` returns whether it wrote; `done` (optional) hears that on
    // `context`'s thread.
    void Post(std::function<bool()> job, QObject* context = nullptr,
              std::function<void(bool)> done = {});
    // Waits until every job posted so far has run (tests, and leaving).
    void Flush();

  private:
    struct Job {
        std::function<bool()> write;
        // Made and read on the posting thread only; the writer's thread
        // just moves it along.
        QPointer<QObject> context;
        std::function<void(bool)> done;
    };
    void Run();

    std::mutex m_mutex;  // guards the fields below
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_busy = false;  // a job taken from m_jobs is running
    bool m_stopping = false;
    std::thread m_thread;  // started by the first Post; joined by the destructor
};

}  // namespace kavrel
