#include "tests/protocol/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace kavrel::test {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? int(left.count()) : 0;
}

// Waits for `events` on `fd` until the deadline; true when any is reported.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, MillisecondsLeft(deadline));
        if (rc > 0)
            return true;
        if (rc == 0 || errno != EINTR)
            return false;
    }
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

LoopbackServer::LoopbackServer(int backlog) {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return;
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, backlog) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        StopListening();
        return;
    }
    m_port = ntohs(address.sin_port);
}

LoopbackServer::~LoopbackServer() {
    CloseConnection();
    StopListening();
}

bool LoopbackServer::Accept(std::chrono::milliseconds wait) {
    CloseConnection();
    if (m_listenFd < 0 || !WaitFor(m_listenFd, POLLIN, Clock::now() + wait))
        return false;
    m_connectionFd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    return m_connectionFd >= 0;
}

bool LoopbackServer::Send(std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (m_connectionFd >= 0 && done < bytes.size()) {
        const ssize_t sent =
            ::send(m_connectionFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        done += size_t(sent);
    }
    return m_connectionFd >= 0;
}

std::vector<uint8_t> LoopbackServer::Read(size_t count, std::chrono::milliseconds wait) {
    const auto deadline = Clock::now() + wait;
    std::vector<uint8_t> bytes(count);
    size_t done = 0;
    while (m_connectionFd >= 0 && done < count && WaitFor(m_connectionFd, POLLIN, deadline)) {
        const ssize_t got = ::recv(m_connectionFd, bytes.data() + done, count - done, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += size_t(got);
    }
    bytes.resize(done);
    return bytes;
}

bool LoopbackServer::WaitForPeerClose(std::chrono::milliseconds wait) {
    const auto deadline = Clock::now() + wait;
    uint8_t scratch[4096];
    while (m_connectionFd >= 0 && WaitFor(m_connectionFd, POLLIN, deadline)) {
        const ssize_t got = ::recv(m_connectionFd, scratch, sizeof scratch, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return true;
    }
    return false;
}

void LoopbackServer::CloseConnection() {
    if (m_connectionFd >= 0)
        ::close(m_connectionFd);
    m_connectionFd = -1;
}

void LoopbackServer::StopListening() {
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    m_listenFd = -1;
}

}  // namespace kavrel::test
