#include "tests/support/BlackholePort.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kavrel::test {

BlackholePort::BlackholePort() {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 0) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
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
