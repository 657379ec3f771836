#pragma once
// The server side of one viewer connection, run on a thread of its own:
// login in either layout, the version record, server information, then the
// stream (format record, one video record per frame at the configured rate),
// PTZ and channel switch commands, and the fault modes. Everything it does is
// logged, one line per event, prefixed "[conn N]".

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "protocol/WireFormat.h"
#include "tools/sim/AnnexBClip.h"
#include "tools/sim/SimOptions.h"
#include "tools/sim/SimReport.h"
#include "tools/sim/VideoSource.h"
#include "tools/sim/ViewerConnection.h"

namespace kavrel::sim {

// What all sessions share; lives as long as the server.
struct SimContext {
    const SimOptions& options;
    SimStats& stats;
    int stopFd;                              // readable once the server stops
    std::atomic<uint64_t>& loginCount;       // logins answered so far, for flip-version
    std::shared_ptr<const AnnexBClip> clip;  // the --file clip, or null
};

class SimSession {
  public:
    // Takes ownership of the connected socket `fd`.
    SimSession(int fd, int id, std::string peer, SimContext& context);

    // Serves the viewer until it closes, a fault ends the connection or the
    // server stops. Closes the socket when it returns.
    void Run();

  private:
    using Clock = std::chrono::steady_clock;

    // Reads what the viewer sent and handles every complete packet; false
    // when the connection is to end (m_endReason says why).
    bool ReadFromViewer();
    bool HandlePacket(const std::vector<ViewerRecord>& records);
    bool HandleLogin(const std::vector<ViewerRecord>& records, const ViewerRecord& login);
    bool HandlePtz(const ViewerRecord& record);
    bool HandleChannel(const ViewerRecord& record);
    bool StartStream();
    bool SendStreamFormat();
    bool SendNextFrame();
    bool StrikeFault();
    bool SendPacket(wire::PacketBuilder& packet);
    bool SendBytes(std::span<const uint8_t> bytes);
    bool End(std::string reason);
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    SimContext& m_context;
    const SimOptions& m_options;
    const int m_id;
    const std::string m_peer;
    SessionSocket m_socket;
    ViewerPacketReader m_reader;
    uint32_t m_sequence = 0;  // of the next packet sent

    bool m_streaming = false;
    bool m_stalled = false;  // "stall": nothing more is sent
    ProtocolVariant m_variant = ProtocolVariant::Current;
    int m_channel = 0;
    std::unique_ptr<VideoSource> m_source;
    PictureSize m_announced;  // size in the last stream format record
    bool m_resized = false;   // "resize": showing the fault size now
    bool m_faultStruck = false;
    uint64_t m_framesSent = 0;
    Clock::time_point m_nextFrame;
    Clock::duration m_period;
    std::string m_endReason;
};

}  // namespace kavrel::sim
