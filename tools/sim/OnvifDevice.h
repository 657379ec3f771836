#pragma once
// A small ONVIF device (Profile S subset) beside the simulated server, so the
// viewer's ONVIF client has something to talk to: device, media, PTZ and
// imaging services over SOAP 1.2 on HTTP/1.1, and WS-Discovery on UDP. Every
// PTZ, preset and imaging request is written to --onvif-log in a fixed form
// tests compare exactly.
//
// Threads: one thread of its own serves everything, one connection at a time
// (each read bounded by a deadline and a size), so no state is shared with the
// protocol server; the counters are atomics read by main() for its summary.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include "tools/sim/SimOptions.h"

namespace kavrel::sim {

class OnvifDevice {
  public:
    explicit OnvifDevice(const SimOptions& options);
    ~OnvifDevice();  // stops and joins the thread
    OnvifDevice(const OnvifDevice&) = delete;
    OnvifDevice& operator=(const OnvifDevice&) = delete;

    // Binds the HTTP socket (and the discovery socket when asked), then starts
    // the thread. False with a reason.
    bool Start(std::string& error);
    std::string BoundAddress() const { return m_boundAddress; }
    int DiscoveryPort() const { return m_discoveryPort; }
    std::string Summary() const;

    // The reply to one HTTP request body (public for tests). Sets `status`.
    std::string Handle(const std::string& body, int& status);

  private:
    void Run();
    void ServeConnection(int fd);
    void AnswerProbe();
    bool Authorized(const std::string& body) const;
    void Log(const std::string& line);
    std::string DeviceUrl() const;
    std::string Profiles() const;

    const SimOptions& m_options;
    int m_httpFd = -1;
    int m_udpFd = -1;
    int m_stopFd = -1;  // eventfd, written once by the destructor
    std::string m_boundAddress;
    int m_discoveryPort = -1;
    std::thread m_thread;
    std::FILE* m_log = nullptr;                    // device thread only (after Start)
    std::map<std::string, std::string> m_presets;  // token → name; device thread only
    int m_nextPreset = 1;                          // device thread only
    std::atomic<uint64_t> m_requests{0};
    std::atomic<uint64_t> m_logins{0};  // requests that carried a valid digest
    std::atomic<uint64_t> m_refused{0};
};

}  // namespace kavrel::sim
