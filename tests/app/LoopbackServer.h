#pragma once
// A scripted server on a free loopback port, for tests that need the exact
// bytes a viewer sends or full control over what it receives.
//
// It accepts any number of connections (numbered 0, 1, ... in accept order),
// cuts what each sends into whole packets (big-endian length + 4 bytes) and
// keeps them; the test answers with Send. It never answers by itself.
//
// Threads: one server thread accepts and reads; every member may be called
// from any other thread. Stops (closing every connection) in its destructor.

#include <cstdint>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace kavrel::test {

class LoopbackServer {
  public:
    using Packet = std::vector<uint8_t>;

    LoopbackServer();  // listening once constructed; Port() is 0 if that failed
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    uint16_t Port() const { return m_port; }

    int Connections() const;
    // Packets received on connection `index` so far (empty for an unknown one).
    std::vector<Packet> Packets(int index) const;
    bool IsClosed(int index) const;

    // Writes all bytes to connection `index`; false when it is gone.
    bool Send(int index, std::span<const uint8_t> bytes);
    // Ends connection `index` as a server that closes it: the viewer sees the
    // close, and nothing it sends later is kept.
    void CloseConnection(int index);

  private:
    struct Connection {
        int fd = -1;
        std::vector<uint8_t> pending;  // bytes of an incomplete packet
        std::vector<Packet> packets;
        bool closed = false;
    };
    void Run();  // the server thread
    void Read(Connection& connection);

    int m_listenFd = -1;
    int m_wakeFd = -1;  // eventfd: ends the server thread
    uint16_t m_port = 0;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    std::vector<Connection> m_connections;  // guarded by m_mutex
};

}  // namespace kavrel::test
