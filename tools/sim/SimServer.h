#pragma once
// The listening side of kavrel-sim: accepts viewers on one TCP socket and
// serves each on a thread of its own (SimSession), up to --max-connections at
// once. Run() returns once the wake-up descriptor reports a stop; every
// session is then told to end and joined, so nothing outlives the server.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/sim/AnnexBClip.h"
#include "tools/sim/SimOptions.h"
#include "tools/sim/SimReport.h"

namespace kavrel::sim {

class SimServer {
  public:
    SimServer(const SimOptions& options, SimStats& stats, std::shared_ptr<const AnnexBClip> clip);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Binds and listens. False with a reason (address in use, not an IPv4 address ...).
    bool Listen(std::string& error);
    // "127.0.0.1:37777": the address actually bound, with the port --port 0 chose.
    std::string BoundAddress() const { return m_boundAddress; }

    // Serves until a byte can be read from `stopFd` (the signal handler's pipe),
    // then stops and joins all sessions. Runs on the main thread.
    void Run(int stopFd);

  private:
    struct Session {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void Accept();
    void ReapFinished(bool all);

    const SimOptions& m_options;
    SimStats& m_stats;
    std::shared_ptr<const AnnexBClip> m_clip;
    int m_listenFd = -1;
    int m_sessionStopFd = -1;   // eventfd: written once on stop, polled by every session
    int m_sessionEndedFd = -1;  // eventfd: a session thread adds 1 as it ends
    std::string m_boundAddress;
    std::atomic<uint64_t> m_loginCount{0};  // shared by the sessions (flip-version)
    std::vector<Session> m_sessions;        // main thread only
    int m_nextId = 1;                       // main thread only
};

}  // namespace kavrel::sim
