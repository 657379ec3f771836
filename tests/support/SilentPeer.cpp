#include "tests/support/SilentPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kavrel::test {
namespace {

// The kernel's smallest receive buffer (it raises anything below its floor).
constexpr int kReceiveBuffer = 1;

// Waits for `fd` (or the wake-up) to become readable; false on the wake-up.
bool WaitReadable(int fd, int wakeFd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    return ::poll(fds, 2, -1) > 0 && fds[1].revents == 0;
}

}  // namespace

SilentPeer::SilentPeer(size_t readFirst, std::vector<uint8_t> answer) {
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC);
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_wakeFd < 0 || m_listenFd < 0)
        return;
    // Set before listening: the accepted connection inherits it, and its
    // window is sized from it.
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::listen(m_listenFd, 1) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread(&SilentPeer::Run, this, readFirst, std::move(answer));
}

SilentPeer::~SilentPeer() {
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
        m_thread.join();
    }
    for (const int fd : {m_connectionFd, m_listenFd, m_wakeFd}) {
        if (fd >= 0)
            ::close(fd);
    }
}

void SilentPeer::Run(size_t readFirst, std::vector<uint8_t> answer) {
    if (!WaitReadable(m_listenFd, m_wakeFd))
        return;
    m_connectionFd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (m_connectionFd < 0)
        return;
    std::vector<uint8_t> first(readFirst);
    size_t got = 0;
    while (got < readFirst) {
        if (!WaitReadable(m_connectionFd, m_wakeFd))
            return;
        const ssize_t n = ::recv(m_connectionFd, first.data() + got, readFirst - got, 0);
        if (n <= 0)
            return;
        got += size_t(n);
    }
    size_t sent = 0;
    while (sent < answer.size()) {
        const ssize_t n =
            ::send(m_connectionFd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += size_t(n);
    }
    m_answered.store(true);
    // From here on nothing is read: the destructor's wake-up ends the thread.
    pollfd wake{m_wakeFd, POLLIN, 0};
    while (::poll(&wake, 1, -1) <= 0) {
    }
}

}  // namespace kavrel::test
