#pragma once
// A PictureSink for tests: keeps every picture and snapshot outcome, and lets
// the test wait for a count with a deadline instead of sleeping.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "video/PictureSink.h"

namespace kavrel::test {

struct SinkPicture {
    int width = 0;
    int height = 0;
    std::vector<uint16_t> pixels;
};

struct SinkSnapshot {
    bool ok = false;
    std::string path;
};

class RecordingSink : public PictureSink {
  public:
    void OnPicture(const uint16_t* pixels, int width, int height) override {
        std::lock_guard lock(m_mutex);
        m_pictures.push_back(SinkPicture{
            width, height, std::vector<uint16_t>(pixels, pixels + size_t(width) * height)});
        m_changed.notify_all();
    }
    void OnSnapshotWritten(bool ok, const std::string& path) override {
        std::lock_guard lock(m_mutex);
        m_snapshots.push_back(SinkSnapshot{ok, path});
        m_changed.notify_all();
    }

    // True when at least `count` pictures arrived before the deadline.
    bool WaitForPictures(size_t count, std::chrono::seconds deadline = std::chrono::seconds(30)) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, deadline, [&] { return m_pictures.size() >= count; });
    }
    bool WaitForSnapshots(size_t count, std::chrono::seconds deadline = std::chrono::seconds(30)) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, deadline, [&] { return m_snapshots.size() >= count; });
    }

    std::vector<SinkPicture> Pictures() const {
        std::lock_guard lock(m_mutex);
        return m_pictures;
    }
    std::vector<SinkSnapshot> Snapshots() const {
        std::lock_guard lock(m_mutex);
        return m_snapshots;
    }

  private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<SinkPicture> m_pictures;    // guarded by m_mutex
    std::vector<SinkSnapshot> m_snapshots;  // guarded by m_mutex
};

// Waits until `done()` holds, checking at short intervals; false at the deadline.
template <typename Predicate>
bool WaitUntil(Predicate done, std::chrono::seconds deadline = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace kavrel::test
