#include "tools/sim/SimServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/sim/SimReport.h"
#include "tools/sim/SimSession.h"

namespace kavrel::sim {
namespace {

std::string AddressText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

void Signal(int eventFd) {
    const uint64_t one = 1;
    while (::write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

}  // namespace

SimServer::SimServer(const SimOptions& options, SimStats& stats,
                     std::shared_ptr<const AnnexBClip> clip)
    : m_options(options), m_stats(stats), m_clip(std::move(clip)) {
    m_sessionStopFd = ::eventfd(0, EFD_CLOEXEC);
    m_sessionEndedFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

SimServer::~SimServer() {
    if (m_sessionStopFd >= 0)
        Signal(m_sessionStopFd);
    ReapFinished(true);
    for (int fd : {m_listenFd, m_sessionStopFd, m_sessionEndedFd}) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool SimServer::Listen(std::string& error) {
    if (m_sessionStopFd < 0 || m_sessionEndedFd < 0) {
        error = std::string("eventfd: ") + std::strerror(errno);
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(m_options.port);
    if (const int rc = ::getaddrinfo(m_options.address.c_str(), port.c_str(), &hints, &found);
        rc != 0) {
        error = "cannot resolve " + m_options.address + ": " + ::gai_strerror(rc);
        return false;
    }
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    ::freeaddrinfo(found);

    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listenFd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int yes = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(m_listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 16) != 0) {
        error = "cannot listen on " + AddressText(address) + ": " + std::strerror(errno);
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length);
    m_boundAddress = AddressText(address);
    return true;
}

void SimServer::Run(int stopFd) {
    while (true) {
        pollfd polls[3] = {
            {m_listenFd, POLLIN, 0}, {stopFd, POLLIN, 0}, {m_sessionEndedFd, POLLIN, 0}};
        if (::poll(polls, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            LogEvent("poll failed: %s; stopping", std::strerror(errno));
            break;
        }
        if (polls[1].revents != 0)
            break;
        if (polls[2].revents != 0) {
            uint64_t ended = 0;
            [[maybe_unused]] const ssize_t n = ::read(m_sessionEndedFd, &ended, sizeof ended);
            ReapFinished(false);
        }
        if (polls[0].revents != 0)
            Accept();
    }
    LogEvent("stopping: %zu connection(s) open", m_sessions.size());
    Signal(m_sessionStopFd);
    ReapFinished(true);
}

void SimServer::Accept() {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int fd = ::accept4(m_listenFd, reinterpret_cast<sockaddr*>(&peer), &length,
                             SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            LogEvent("accept failed: %s", std::strerror(errno));
        }
        return;
    }
    m_stats.connections.fetch_add(1);
    if (int(m_sessions.size()) >= m_options.maxConnections) {
        LogEvent("connection from %s closed at once: %d viewers already served",
                 AddressText(peer).c_str(), m_options.maxConnections);
        ::close(fd);
        return;
    }
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);

    auto done = std::make_shared<std::atomic<bool>>(false);
    const int id = m_nextId++;
    const int endedFd = m_sessionEndedFd;
    auto context = std::make_shared<SimContext>(
        SimContext{m_options, m_stats, m_sessionStopFd, m_loginCount, m_clip});
    m_sessions.push_back({std::thread([fd, id, peer, context, done, endedFd] {
                              SimSession(fd, id, AddressText(peer), *context).Run();
                              done->store(true);
                              Signal(endedFd);
                          }),
                          done});
}

void SimServer::ReapFinished(bool all) {
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (all || it->done->load()) {
            it->thread.join();
            it = m_sessions.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace kavrel::sim
