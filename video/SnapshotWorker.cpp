#include "video/SnapshotWorker.h"

#include <pthread.h>

#include <cstring>
#include <new>
#include <system_error>
#include <utility>

namespace kavrel {
namespace {

void CopyPlane(const uint8_t* from, ptrdiff_t stride, int width, int rows, uint8_t* to) {
    for (int row = 0; row < rows; ++row)
        std::memcpy(to + size_t(row) * size_t(width), from + ptrdiff_t(row) * stride,
                    size_t(width));
}

}  // namespace

SnapshotWorker::SnapshotWorker(size_t maxPendingBytes) : m_maxPendingBytes(maxPendingBytes) {
    m_tables.Build();
}

SnapshotWorker::~SnapshotWorker() {
    {
        std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool SnapshotWorker::Submit(const PlanarPicture& picture, Done done, SnapshotKind kind) {
    if (picture.IsEmpty())
        return false;
    const PlanarLayout layout = PlanarLayoutFor(picture.width, picture.height);
    {
        // Refused before the copy costs anything.
        std::lock_guard lock(m_mutex);
        if (m_ending ||
            (m_pendingJobs > 0 && m_pendingBytes + layout.totalBytes > m_maxPendingBytes))
            return false;
    }
    Job job;
    job.planar.reset(new (std::nothrow) uint8_t[layout.totalBytes]);
    if (!job.planar)
        return false;
    job.bytes = layout.totalBytes;
    job.width = picture.width;
    job.height = picture.height;
    job.kind = kind;
    job.done = std::move(done);
    uint8_t* planar = job.planar.get();
    CopyPlane(picture.y, picture.yStride, picture.width, picture.height, planar);
    if (layout.chromaWidth > 0 && layout.chromaHeight > 0) {
        CopyPlane(picture.u, picture.uStride, layout.chromaWidth, layout.chromaHeight,
                  planar + layout.uOffset);
        CopyPlane(picture.v, picture.vStride, layout.chromaWidth, layout.chromaHeight,
                  planar + layout.vOffset);
    }

    {
        std::lock_guard lock(m_mutex);
        if (m_ending || (m_pendingJobs > 0 && m_pendingBytes + job.bytes > m_maxPendingBytes))
            return false;
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread(&SnapshotWorker::Run, this);
            } catch (const std::system_error&) {
                return false;
            }
        }
        m_pendingBytes += job.bytes;
        ++m_pendingJobs;
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
    return true;
}

size_t SnapshotWorker::Pending() const {
    std::lock_guard lock(m_mutex);
    return m_pendingJobs;
}

void SnapshotWorker::Run() {
    pthread_setname_np(pthread_self(), "kavrel-snapshot");
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_ending || !m_jobs.empty(); });
            // Ending, the queue is still written out first: nothing handed over is lost.
            if (m_jobs.empty())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        std::string path;
        bool ok = false;
        {
            // The 24-bit picture lives only while its file is written.
            std::unique_ptr<uint8_t[]> rgb(new (std::nothrow)
                                               uint8_t[3 * size_t(job.width) * size_t(job.height)]);
            if (rgb) {
                ConvertToRgb(m_tables, PackedPicture(job.planar.get(), job.width, job.height),
                             rgb.get());
            }
            // Without memory for it the write fails and names the file it meant.
            ok = m_writer.WriteSnapshot(job.width, job.height, rgb.get(), &path, job.kind);
        }
        job.planar.reset();
        {
            std::lock_guard lock(m_mutex);
            m_pendingBytes -= job.bytes;
            --m_pendingJobs;
        }
        if (job.done)
            job.done(ok, path);
    }
}

}  // namespace kavrel
