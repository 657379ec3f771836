#pragma once
// A one-connection TCP server on 127.0.0.1 for tests of the client and the
// engine. Blocking calls bounded by deadlines; no thread of its own, so a test
// drives it from its own thread (or from a helper thread it joins).

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

namespace kavrel::test {

class LoopbackServer {
  public:
    static constexpr std::chrono::seconds kDefaultWait{10};

    // Listens on an ephemeral port of 127.0.0.1 with the given backlog.
    explicit LoopbackServer(int backlog = 4);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool Listening() const { return m_listenFd >= 0; }
    int Port() const { return m_port; }

    // Accepts the next connection (closing any earlier one). False on time-out.
    bool Accept(std::chrono::milliseconds wait = kDefaultWait);
    // Sends all bytes on the accepted connection.
    bool Send(std::span<const uint8_t> bytes);
    // Reads exactly `count` bytes; fewer when the peer closes or time runs out.
    std::vector<uint8_t> Read(size_t count, std::chrono::milliseconds wait = kDefaultWait);
    // True when the peer has closed its side (end of stream or reset) within
    // the wait; data still arriving is read and discarded.
    bool WaitForPeerClose(std::chrono::milliseconds wait = kDefaultWait);
    // Closes the accepted connection (the client sees the server close).
    void CloseConnection();
    // Stops listening; later connects are refused.
    void StopListening();

  private:
    int m_listenFd = -1;
    int m_connectionFd = -1;
    int m_port = 0;
};

// Waits for `condition` to hold, checking it often, until `wait` has passed.
// Returns the condition's last value.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds wait = LoopbackServer::kDefaultWait);

}  // namespace kavrel::test

#include <thread>

template <typename Condition>
bool kavrel::test::WaitUntil(Condition condition, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
