#include "tests/support/TestPorts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kavrel::test {
namespace {

// A TCP socket bound to a free port of 127.0.0.1 (no SO_REUSEADDR: no other
// socket may bind the port while it is held); -1 on failure.
int BindLoopback(sockaddr_in& address) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

RefusingPort::RefusingPort() {
    sockaddr_in address{};
    m_fd = BindLoopback(address);
    if (m_fd >= 0)
        m_port = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort() {
    if (m_fd >= 0)
        ::close(m_fd);
}

BlackholePort::BlackholePort() {
    sockaddr_in address{};
    m_listenFd = BindLoopback(address);
    if (m_listenFd < 0 || ::listen(m_listenFd, 0) != 0)
        return;
    // A backlog of 0 still queues one connection; a few more make sure the
    // queue is full before anyone else asks.
    for (int i = 0; i < 3; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            continue;
        [[maybe_unused]] const int rc =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        m_fillers.push_back(fd);
    }
    m_port = ntohs(address.sin_port);
}

BlackholePort::~BlackholePort() {
    for (int fd : m_fillers)
        ::close(fd);
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

}  // namespace kavrel::test
