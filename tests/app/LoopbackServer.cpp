#include "tests/app/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "protocol/WireFormat.h"

namespace kavrel::test {

LoopbackServer::LoopbackServer() {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (m_listenFd < 0 || m_wakeFd < 0 ||
        ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 8) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer() {
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        (void)!::write(m_wakeFd, &one, sizeof one);
        m_thread.join();
    }
    for (Connection& connection : m_connections) {
        if (connection.fd >= 0)
            ::close(connection.fd);
    }
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void LoopbackServer::Run() {
    for (;;) {
        std::vector<pollfd> fds = {{m_wakeFd, POLLIN, 0}, {m_listenFd, POLLIN, 0}};
        std::vector<size_t> owners;
        {
            std::lock_guard lock(m_mutex);
            for (size_t i = 0; i < m_connections.size(); ++i) {
                if (!m_connections[i].closed) {
                    fds.push_back({m_connections[i].fd, POLLIN, 0});
                    owners.push_back(i);
                }
            }
        }
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            return;
        if (fds[0].revents != 0)
            return;
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                std::lock_guard lock(m_mutex);
                m_connections.push_back(Connection{fd, {}, {}, false});
            }
        }
        for (size_t k = 0; k < owners.size(); ++k) {
            if (fds[k + 2].revents != 0) {
                std::lock_guard lock(m_mutex);
                Read(m_connections[owners[k]]);
            }
        }
    }
}

void LoopbackServer::Read(Connection& connection) {
    uint8_t chunk[4096];
    const ssize_t got = ::recv(connection.fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (got <= 0) {
        if (got == 0 || (errno != EAGAIN && errno != EINTR))
            connection.closed = true;
        return;
    }
    connection.pending.insert(connection.pending.end(), chunk, chunk + got);
    while (connection.pending.size() >= 8) {
        const size_t size = size_t(wire::ReadU32BE(connection.pending.data())) + 4;
        if (connection.pending.size() < size)
            break;
        connection.packets.emplace_back(connection.pending.begin(),
                                        connection.pending.begin() + ptrdiff_t(size));
        connection.pending.erase(connection.pending.begin(),
                                 connection.pending.begin() + ptrdiff_t(size));
    }
}

int LoopbackServer::Connections() const {
    std::lock_guard lock(m_mutex);
    return int(m_connections.size());
}

std::vector<LoopbackServer::Packet> LoopbackServer::Packets(int index) const {
    std::lock_guard lock(m_mutex);
    if (index < 0 || size_t(index) >= m_connections.size())
        return {};
    return m_connections[size_t(index)].packets;
}

bool LoopbackServer::IsClosed(int index) const {
    std::lock_guard lock(m_mutex);
    return index >= 0 && size_t(index) < m_connections.size() &&
           m_connections[size_t(index)].closed;
}

void LoopbackServer::CloseConnection(int index) {
    std::lock_guard lock(m_mutex);
    // The server thread may be polling the descriptor: it is closed with the server.
    if (index >= 0 && size_t(index) < m_connections.size())
        ::shutdown(m_connections[size_t(index)].fd, SHUT_RDWR);
}

bool LoopbackServer::Send(int index, std::span<const uint8_t> bytes) {
    std::lock_guard lock(m_mutex);
    if (index < 0 || size_t(index) >= m_connections.size() || m_connections[size_t(index)].closed)
        return false;
    const int fd = m_connections[size_t(index)].fd;
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += size_t(n);
    }
    return true;
}

}  // namespace kavrel::test
