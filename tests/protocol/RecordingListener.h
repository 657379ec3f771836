#pragma once
// A CServerNotify for tests: records every callback as a line of text, in
// order, safe to read from another thread while the receive thread calls in.
// Optional hooks run after a callback is recorded, on the calling thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/CServerNotify.h"

namespace kavrel::test {

class RecordingListener final : public CServerNotify {
  public:
    // Lines: "event 4", "dvs channels=8", "format 352x288 fps=25 rate=512000",
    // "video key=1 len=5 fnv=1a2b3c4d" (tag, extra1 and extra2 must be 0, else
    // the line says so).
    std::vector<std::string> Lines() const;
    size_t Count() const;
    // Waits until at least `count` lines were recorded.
    bool WaitForCount(size_t count, std::chrono::milliseconds wait = std::chrono::seconds(10));

    // From now on every callback counts as late (for "no callback after").
    void ForbidCallbacks() { m_forbidden.store(true); }
    int LateCallbacks() const { return m_late.load(); }

    // Hooks, set before the engine runs; called after the line is recorded.
    std::function<void(int code)> onEvent;
    std::function<void()> onVideo;

    void OnServerEvent(int code) override;
    void OnDvsInfo(DvsInfo info) override;
    void OnStreamFormat(StreamFormatInfo info) override;
    void OnVideoData(int tag, const uint8_t* bytes, int length, int extra1, int extra2,
                     int keyFrame) override;

  private:
    void Record(std::string line);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;  // guarded by m_mutex
    std::atomic<bool> m_forbidden{false};
    std::atomic<int> m_late{0};
};

// FNV-1a of a byte range, to name payloads in recorded lines.
uint32_t Fnv1a(const uint8_t* bytes, size_t length);

}  // namespace kavrel::test
