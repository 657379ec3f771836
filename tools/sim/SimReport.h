#pragma once
// What the simulator reports: the event log on stderr, one line per event, and
// the counters of the run, printed as the summary at exit.

#include <atomic>
#include <cstdint>
#include <string>

namespace kavrel::sim {

// Writes one event line on stderr, prefixed with the seconds since start, so a
// person can follow a session and a test can wait for a line. printf-style;
// the line end is added. Callable from any thread; each line is written whole.
void LogEvent(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Counters of one run, updated by every session thread (atomics, no lock).
class SimStats {
  public:
    std::atomic<uint64_t> connections{0};
    std::atomic<uint64_t> loginsAccepted{0};
    std::atomic<uint64_t> loginsRefused{0};
    std::atomic<uint64_t> frames{0};      // video records sent
    std::atomic<uint64_t> keyFrames{0};   // of which key frames
    std::atomic<uint64_t> frameBytes{0};  // payload bytes of those records
    std::atomic<uint64_t> bytes{0};       // every byte written to viewers
    std::atomic<uint64_t> ptzCommands{0};
    std::atomic<uint64_t> channelSwitches{0};
    std::atomic<uint64_t> oversizeFrames{0};  // encoded frames too long for one record, not sent

    // Counts one video record of `size` payload bytes.
    void NoteFrame(size_t size, bool key);
    uint64_t LargestFrame() const { return m_largestFrame.load(); }
    uint64_t LargestKeyFrame() const { return m_largestKeyFrame.load(); }

    // "summary: connections=2 logins=2 refused=0 frames=... ptz=3 ..." (one line).
    std::string Summary() const;

  private:
    std::atomic<uint64_t> m_largestFrame{0};
    std::atomic<uint64_t> m_largestKeyFrame{0};
};

}  // namespace kavrel::sim
