#include "app/SettingsWriter.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace kavrel {

SettingsWriter::~SettingsWriter() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void SettingsWriter::Post(std::function<bool()> job, QObject* context,
                          std::function<void(bool)> done) {
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(Job{std::move(job), context, context ? std::move(done) : nullptr});
        if (!m_thread.joinable())
            m_thread = std::thread([this] { Run(); });
    }
    m_wake.notify_all();
}

void SettingsWriter::Flush() {
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [this] { return m_jobs.empty() && !m_busy; });
}

void SettingsWriter::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_jobs.empty() || m_stopping; });
        if (m_jobs.empty())
            return;  // stopping, and everything posted has been written
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_busy = true;
        lock.unlock();
        const bool written = job.write();
        if (job.done) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [context = std::move(job.context), done = std::move(job.done), written] {
                    if (context)
                        done(written);
                },
                Qt::QueuedConnection);
        }
        lock.lock();
        m_busy = false;
        m_wake.notify_all();
    }
}

}  // namespace kavrel
