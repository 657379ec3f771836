#pragma once
// A CServerNotify that records every callback of a protocol engine, in order,
// so a test on another thread can wait for what the server sent.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "protocol/CServerNotify.h"

namespace kavrel::test {

struct Callback {
    enum class Kind { Event, Dvs, Format, Video };
    Kind kind = Kind::Event;
    int code = 0;                // Event
    DvsInfo dvs;                 // Dvs
    StreamFormatInfo format;     // Format
    std::vector<uint8_t> bytes;  // Video
    bool key = false;            // Video
};

class RecordingListener final : public CServerNotify {
  public:
    using Predicate = std::function<bool(const std::vector<Callback>&)>;

    void OnServerEvent(int code) override;
    void OnDvsInfo(DvsInfo info) override;
    void OnStreamFormat(StreamFormatInfo info) override;
    void OnVideoData(int tag, const uint8_t* bytes, int length, int extra1, int extra2,
                     int keyFrame) override;

    std::vector<Callback> Calls() const;
    // Waits until `done` holds for the calls so far (checked on each new call).
    bool WaitUntil(const Predicate& done,
                   std::chrono::milliseconds deadline = std::chrono::seconds(20));
    // Waits for at least `count` video frames after the `formats`-th stream format.
    bool WaitForVideo(int count, int formats = 1,
                      std::chrono::milliseconds deadline = std::chrono::seconds(20));

  private:
    void Add(Callback call);

    mutable std::mutex m_mutex;
    std::condition_variable m_added;
    std::vector<Callback> m_calls;  // guarded by m_mutex; written on the receive thread
};

int CountKind(const std::vector<Callback>& calls, Callback::Kind kind);

}  // namespace kavrel::test
