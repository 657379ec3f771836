#include "protocol/CTCPClient_CE.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/DebugSink.h"
#include "platform/TextCodec.h"

namespace kavrel {
namespace {

constexpr const char* kSocketError = "Socket error\n";

// Receive threads started and not yet finished, across all clients.
std::atomic<int> g_activeReceiveThreads{0};

std::mutex g_lookupMutex;
CTCPClient_CE::NameLookup g_lookup;  // guarded by g_lookupMutex; empty: getaddrinfo

bool SystemNameLookup(const std::string& name, uint32_t& addressNetworkOrder) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> guard(found, &::freeaddrinfo);
    sockaddr_in first{};
    std::memcpy(&first, found->ai_addr, sizeof first);
    addressNetworkOrder = first.sin_addr.s_addr;
    return true;
}

void WakeUp(int wakeFd) {
    const uint64_t one = 1;
    // A full counter (impossible in practice) still leaves the descriptor
    // readable, which is all the waiting thread needs.
    [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
}

void DrainWakeUps(int wakeFd) {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(wakeFd, &count, sizeof count);
}

// poll() that restarts after a signal, keeping the original deadline.
int PollUntil(pollfd* fds, nfds_t count, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int timeout = left.count() > 0 ? int(left.count()) : 0;
        const int rc = ::poll(fds, count, timeout);
        if (rc >= 0 || errno != EINTR)
            return rc;
    }
}

// Lookup threads that have not finished, across all clients. Any of them may
// still be given up on, so the cap on abandoned lookups is kept by bounding
// these: a lookup starts only by taking one of the
// CTCPClient_CE::kMaxAbandonedLookups places in one step (ReserveLookup), and
// its thread gives the place back when the lookup ends.
std::atomic<int> g_unfinishedLookups{0};
// Of those, the ones whose waiter gave up; for AbandonedLookups.
std::atomic<int> g_abandonedLookups{0};

bool ReserveLookup() {
    int unfinished = g_unfinishedLookups.load();
    do {
        if (unfinished >= CTCPClient_CE::kMaxAbandonedLookups)
            return false;
    } while (!g_unfinishedLookups.compare_exchange_weak(unfinished, unfinished + 1));
    return true;
}

// A name lookup on a thread of its own: getaddrinfo has no time limit and
// cannot be interrupted, so the thread that waits for it must be able to give
// up at its deadline or on a stop request. An abandoned lookup finishes on
// its own; its result is dropped with this block.
struct PendingLookup {
    enum State { kRunning, kFinished, kAbandoned };

    int doneFd = -1;       // eventfd, written once when the lookup ends
    uint32_t address = 0;  // written by the lookup thread before `state` leaves kRunning
    bool found = false;    // the same
    // Leaves kRunning once: to kFinished by the lookup thread, or to
    // kAbandoned by the waiter that gives up (which then counts it).
    std::atomic<int> state{kRunning};

    ~PendingLookup() {
        if (doneFd >= 0)
            ::close(doneFd);
    }
};

// Gives `lookup` up unless it has just finished.
void Abandon(PendingLookup& lookup) {
    int running = PendingLookup::kRunning;
    if (lookup.state.compare_exchange_strong(running, PendingLookup::kAbandoned))
        g_abandonedLookups.fetch_add(1);
}

// Looks `name` up (first IPv4 result) before `deadline`, watching `wakeFd`
// (or -1) meanwhile: when it fires and `stop` is set, gives up at once. Fails
// at once, without a lookup, while too many lookups that may be given up on
// still run.
bool LookUpName(const std::string& name, uint32_t& addressNetworkOrder, int wakeFd,
                const std::atomic<bool>& stop, std::chrono::steady_clock::time_point deadline) {
    if (!ReserveLookup())
        return false;
    auto lookup = std::make_shared<PendingLookup>();
    lookup->doneFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (lookup->doneFd < 0) {
        g_unfinishedLookups.fetch_sub(1);
        return false;
    }
    CTCPClient_CE::NameLookup function;
    {
        std::lock_guard lock(g_lookupMutex);
        function = g_lookup ? g_lookup : SystemNameLookup;
    }
    try {
        std::thread([lookup, name, function = std::move(function)] {
            uint32_t address = 0;
            if (function(name, address)) {
                lookup->address = address;
                lookup->found = true;
            }
            int running = PendingLookup::kRunning;
            const bool abandoned =
                !lookup->state.compare_exchange_strong(running, PendingLookup::kFinished);
            // The place first: once AbandonedLookups has dropped, a new lookup
            // must find it free.
            g_unfinishedLookups.fetch_sub(1);
            if (abandoned)
                g_abandonedLookups.fetch_sub(1);
            WakeUp(lookup->doneFd);
        }).detach();
    } catch (const std::system_error&) {
        g_unfinishedLookups.fetch_sub(1);
        return false;
    }
    for (;;) {
        pollfd fds[2] = {{lookup->doneFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (PollUntil(fds, 2, deadline) <= 0) {
            Abandon(*lookup);  // the deadline, or poll itself failed
            return false;
        }
        if (lookup->state.load() == PendingLookup::kFinished)
            break;
        if (fds[1].revents != 0) {
            DrainWakeUps(wakeFd);
            if (stop.load()) {
                Abandon(*lookup);
                return false;
            }
        }
    }
    if (!lookup->found)
        return false;
    addressNetworkOrder = lookup->address;
    return true;
}

}  // namespace

// State the receive thread needs. The thread holds its own reference, so the
// client may be destroyed (even from inside the sink) while the thread is
// still unwinding.
struct CTCPClient_CE::Shared {
    // Written by Open before the thread starts; read by the receive thread.
    ReceiveSink* sink = nullptr;
    // Written by Open before the thread starts, and set to -1 by Close only
    // after the thread has ended or from the thread itself (which then reads
    // it no more). Between those points both threads only read it. The
    // receive thread never closes it: on a read error or server close it shuts
    // the connection down, so a concurrent Send fails cleanly instead of
    // writing to a descriptor number the process may have reused.
    int socketFd = -1;
    // eventfd that wakes the receive thread; valid for the life of this block.
    int wakeFd = -1;
    // Written by Open before the thread starts; read by whichever thread connects.
    std::u16string address;
    int port = 0;
    // Written by StartConnect before it sets connectRequested; read by the
    // receive thread after it has seen that flag.
    std::chrono::milliseconds connectTimeout{kDefaultConnectTimeout};
    // Set by StartConnect: the receive thread connects by itself.
    std::atomic<bool> connectRequested{false};
    // Set by Close (any thread); the receive thread ends when it sees it.
    std::atomic<bool> stopRequested{false};
    // Set by Connect once the socket is connected; until then the receive
    // thread does not poll the socket (Linux reports an unconnected TCP socket
    // as hung up, which would end or spin the thread).
    std::atomic<bool> connected{false};
    // Set by the receive thread as its last act on this block.
    std::atomic<bool> threadEnded{true};
    // Set by Send when the connection can send no more; the receive thread
    // then shuts it down and reports it lost.
    std::atomic<bool> sendFailed{false};

    // Bytes Send could not hand to the socket, oldest first; the receive
    // thread writes them out when the socket takes more. Send adds to them
    // only while they are empty or it can append: the order on the wire is
    // the order of the Send calls.
    mutable std::mutex sendMutex;
    std::vector<uint8_t> queued;  // guarded by sendMutex; at most kSendQueueLimit bytes
    // When the socket last took queued bytes (or the queue filled from empty).
    std::chrono::steady_clock::time_point queueProgressAt;  // guarded by sendMutex

    Shared() = default;
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;
    ~Shared() {
        if (socketFd >= 0)
            ::close(socketFd);
        if (wakeFd >= 0)
            ::close(wakeFd);
    }
};

namespace {

// Ends the connection from the receive thread: the peer sees it closed and
// every later send fails; the descriptor itself is closed by Close.
void ShutDown(int socketFd) {
    ::shutdown(socketFd, SHUT_RDWR);
}

// Sockets Close handed to a finishing thread (FinishClose) that has not
// closed them yet, across all clients.
struct ClosingState {
    std::mutex mutex;
    std::condition_variable done;
    int count = 0;  // guarded by mutex
};

// Never destroyed: a finishing thread may still run while the process exits.
ClosingState& Closing() {
    static ClosingState* const closing = new ClosingState;
    return *closing;
}

// How often a finishing thread looks whether the peer has acknowledged
// everything: no event tells of it.
constexpr std::chrono::milliseconds kAcknowledgementPoll{5};

// Bytes the socket has taken that the peer has not acknowledged; -1 when
// that cannot be told.
int UnacknowledgedBytes(int fd) {
    int bytes = 0;
    return ::ioctl(fd, SIOCOUTQ, &bytes) == 0 ? bytes : -1;
}

// The finishing thread of one closed connection; it alone owns `fd`. Writes
// `unsent` out, ends the sending side behind it, and waits until the peer has
// acknowledged all of it, reading and dropping whatever still arrives
// meanwhile (closing with unread bytes would reset the connection and
// discard what the socket still holds). Never past `deadline`; a peer that
// has gone or closed ends the wait at once. Then closes `fd`.
void FinishClose(int fd, std::vector<uint8_t> unsent,
                 std::chrono::steady_clock::time_point deadline) {
    pthread_setname_np(pthread_self(), "kavrel-close");
    size_t taken = 0;
    bool given = true;  // every byte handed to the socket
    while (given && taken < unsent.size()) {
        pollfd out{fd, POLLOUT, 0};
        if (PollUntil(&out, 1, deadline) <= 0) {
            given = false;
            break;
        }
        const ssize_t sent =
            ::send(fd, unsent.data() + taken, unsent.size() - taken, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0)
            taken += size_t(sent);
        else if (sent < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            given = false;
    }
    if (given) {
        ::shutdown(fd, SHUT_WR);
        while (UnacknowledgedBytes(fd) > 0) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline)
                break;
            pollfd in{fd, POLLIN, 0};
            const int rc = PollUntil(&in, 1, std::min(deadline, now + kAcknowledgementPoll));
            if (rc < 0 || (rc > 0 && (in.revents & (POLLERR | POLLNVAL)) != 0))
                break;
            if (rc > 0) {
                uint8_t dropped[4096];
                const ssize_t got = ::recv(fd, dropped, sizeof dropped, MSG_DONTWAIT);
                if (got == 0 ||
                    (got < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
                    break;
            }
        }
    }
    ::close(fd);
    ClosingState& closing = Closing();
    std::lock_guard lock(closing.mutex);
    --closing.count;
    closing.done.notify_all();
}

// Hands `fd` with its `unsent` bytes to a finishing thread of its own; false
// (nothing handed over) when no thread can be started.
bool HandOver(int fd, std::vector<uint8_t>& unsent, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    ClosingState& closing = Closing();
    {
        std::lock_guard lock(closing.mutex);
        ++closing.count;
    }
    try {
        std::thread(FinishClose, fd, std::move(unsent), deadline).detach();
    } catch (const std::system_error&) {
        std::lock_guard lock(closing.mutex);
        --closing.count;
        return false;
    }
    return true;
}

// The connection can still carry bytes: neither side has ended it (a
// connection lost or shut down by the receive thread reports a hang-up).
bool CanStillDeliver(int fd) {
    pollfd state{fd, 0, 0};
    return ::poll(&state, 1, 0) == 0;
}

}  // namespace

CTCPClient_CE::CTCPClient_CE() = default;

CTCPClient_CE::~CTCPClient_CE() {
    Close();
    if (m_thread.joinable()) {
        // Only left joinable when Close ran on the receive thread itself: that
        // thread ends on its own once the sink returns.
        if (OnReceiveThread()) {
            m_thread.detach();
        } else {
            m_thread.join();
        }
    }
}

bool CTCPClient_CE::Open(ReceiveSink* sink, std::u16string_view address, int port) {
    if (m_shared)
        return false;

    auto shared = std::make_shared<Shared>();
    shared->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (shared->wakeFd < 0)
        return false;
    shared->socketFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (shared->socketFd < 0)
        return false;
    // Best effort: with the system's size the connection merely notices a
    // stalled peer later.
    const int sendBuffer = kSocketSendBuffer;
    ::setsockopt(shared->socketFd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    // Every request is a whole packet that must go now (a PTZ stop above all),
    // not wait for the acknowledgement of the one before.
    const int noDelay = 1;
    ::setsockopt(shared->socketFd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    shared->sink = sink;
    shared->address.assign(address);
    shared->port = port;
    shared->threadEnded.store(false);

    g_activeReceiveThreads.fetch_add(1);
    try {
        m_thread = std::thread(&CTCPClient_CE::ReceiveThread, shared);
    } catch (const std::system_error&) {
        g_activeReceiveThreads.fetch_sub(1);
        return false;  // `shared` closes the socket
    }
    m_shared = std::move(shared);
    return true;
}

namespace {

// Address rules of Connect: empty is 0.0.0.0; a text inet_addr takes is used
// as it stands; anything else is looked up as a host name.
bool ResolveAddress(const std::u16string& address, uint32_t& addressNetworkOrder, int wakeFd,
                    const std::atomic<bool>& stop, std::chrono::steady_clock::time_point deadline) {
    if (address.empty()) {
        addressNetworkOrder = htonl(INADDR_ANY);
        return true;
    }
    const std::string text = ToUtf8(address);
    // The C parsers stop at a zero byte; such a text names no host.
    if (text.find('\0') != std::string::npos)
        return false;

    const in_addr_t parsed = ::inet_addr(text.c_str());
    if (parsed != INADDR_NONE) {
        addressNetworkOrder = parsed;
        return true;
    }
    return LookUpName(text, addressNetworkOrder, wakeFd, stop, deadline);
}

}  // namespace

bool CTCPClient_CE::ConnectSocket(Shared& shared, std::chrono::steady_clock::time_point deadline,
                                  int wakeFd) {
    uint32_t resolved = 0;
    if (!ResolveAddress(shared.address, resolved, wakeFd, shared.stopRequested, deadline)) {
        errno = EINVAL;
        return false;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(uint16_t(unsigned(shared.port) & 0xFFFFu));
    target.sin_addr.s_addr = resolved;

    const int fd = shared.socketFd;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return false;

    // Non-blocking connect plus poll, never longer than the deadline.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0)
        return true;
    if (errno != EINPROGRESS && errno != EINTR)
        return false;
    for (;;) {
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        const int rc = PollUntil(fds, 2, deadline);
        if (rc == 0)
            errno = ETIMEDOUT;
        if (rc <= 0)
            return false;
        if (fds[1].revents != 0) {
            DrainWakeUps(wakeFd);
            if (shared.stopRequested.load())
                return false;
        }
        if (fds[0].revents != 0)
            break;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return false;
    if (error != 0) {
        errno = error;
        return false;
    }
    return true;
}

bool CTCPClient_CE::Connect() {
    if (!m_shared || m_shared->socketFd < 0 || m_shared->stopRequested.load() ||
        m_shared->connectRequested.load())
        return false;
    // The receive thread drains the wake-up descriptor: this thread does not watch it.
    if (!ConnectSocket(*m_shared, std::chrono::steady_clock::now() + m_connectTimeout, -1))
        return false;
    m_shared->connected.store(true);
    WakeUp(m_shared->wakeFd);
    return true;
}

bool CTCPClient_CE::StartConnect() {
    if (!m_shared || m_shared->socketFd < 0 || m_shared->stopRequested.load() ||
        m_shared->connected.load() || m_shared->connectRequested.load())
        return false;
    m_shared->connectTimeout = m_connectTimeout;
    m_shared->connectRequested.store(true);
    WakeUp(m_shared->wakeFd);
    return true;
}

bool CTCPClient_CE::Send(const void* bytes, int length) {
    if (length < 1)
        return true;
    // A connect still in progress on the receive thread: nothing can be sent
    // yet, and the attempt must not be ended for it.
    if (m_shared && m_shared->connectRequested.load() && !m_shared->connected.load())
        return false;
    // Sending needs a connection whose receive thread still runs: it alone
    // writes out what is queued and reports the end of the connection.
    if (!m_shared || m_shared->socketFd < 0 || !m_shared->connected.load() ||
        m_shared->threadEnded.load() || m_shared->sendFailed.load()) {
        DebugOutput(kSocketError);
        return false;
    }
    Shared& shared = *m_shared;
    const auto* next = static_cast<const uint8_t*>(bytes);
    size_t left = size_t(length);
    bool queuedNow = false;
    bool failed = false;
    {
        std::lock_guard lock(shared.sendMutex);
        // Never waits: what the socket does not take now is queued.
        while (shared.queued.empty() && left > 0) {
            // MSG_NOSIGNAL: a peer that has gone must give an error, not SIGPIPE.
            const ssize_t sent = ::send(shared.socketFd, next, left, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent > 0) {
                next += sent;
                left -= size_t(sent);
                continue;
            }
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            failed = true;
            break;
        }
        if (!failed && left > 0) {
            if (shared.queued.size() + left > kSendQueueLimit) {
                failed = true;
            } else {
                if (shared.queued.empty())
                    shared.queueProgressAt = std::chrono::steady_clock::now();
                shared.queued.insert(shared.queued.end(), next, next + left);
                queuedNow = true;
            }
        }
    }
    if (failed) {
        // Reported by the receive thread, as a connection the peer closed is.
        DebugOutput(kSocketError);
        shared.sendFailed.store(true);
        WakeUp(shared.wakeFd);
        return false;
    }
    if (queuedNow)
        WakeUp(shared.wakeFd);  // to watch for room in the socket
    return true;
}

size_t CTCPClient_CE::QueuedSendBytes() const {
    if (!m_shared)
        return 0;
    std::lock_guard lock(m_shared->sendMutex);
    return m_shared->queued.size();
}

bool CTCPClient_CE::Close() {
    if (!m_shared)
        return false;
    m_shared->stopRequested.store(true);
    WakeUp(m_shared->wakeFd);
    if (m_thread.joinable() && !OnReceiveThread())
        m_thread.join();
    const int fd = std::exchange(m_shared->socketFd, -1);
    if (fd < 0)
        return false;
    // The last requests (a PTZ stop before Stop or a channel change) may still
    // wait in the queue or in the socket: a finishing thread gives them their
    // chance, so that this thread, the user-interface thread, never waits for
    // the peer. The receive thread no longer touches the queue.
    std::vector<uint8_t> unsent;
    {
        std::lock_guard lock(m_shared->sendMutex);
        unsent.swap(m_shared->queued);
    }
    if (m_shared->connected.load() && !m_shared->sendFailed.load() &&
        (!unsent.empty() || UnacknowledgedBytes(fd) > 0) && CanStillDeliver(fd) &&
        HandOver(fd, unsent, m_closeFlushTimeout))
        return true;
    return ::close(fd) == 0;
}

int CTCPClient_CE::ClosingSockets() {
    ClosingState& closing = Closing();
    std::lock_guard lock(closing.mutex);
    return closing.count;
}

bool CTCPClient_CE::WaitForClosingSockets(std::chrono::milliseconds limit) {
    ClosingState& closing = Closing();
    std::unique_lock lock(closing.mutex);
    return closing.done.wait_for(lock, limit, [&] { return closing.count == 0; });
}

void CTCPClient_CE::SetNameLookup(NameLookup lookup) {
    std::lock_guard lock(g_lookupMutex);
    g_lookup = std::move(lookup);
}

bool CTCPClient_CE::ReceiveThreadEnded() const {
    return !m_shared || m_shared->threadEnded.load();
}

int CTCPClient_CE::AbandonedLookups() {
    return g_abandonedLookups.load();
}

int CTCPClient_CE::ActiveReceiveThreads() {
    return g_activeReceiveThreads.load();
}

bool CTCPClient_CE::OnReceiveThread() const {
    return m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id();
}

void CTCPClient_CE::ReceiveThread(std::shared_ptr<Shared> shared) {
    // Named, so that a profile or top tells the connection's work apart.
    pthread_setname_np(pthread_self(), "kavrel-receive");
    if (ReceiveLoop(*shared) && shared->sink != nullptr && !shared->stopRequested.load())
        shared->sink->OnReceiveEnded();
    shared->threadEnded.store(true);
    shared.reset();
    g_activeReceiveThreads.fetch_sub(1);
}

bool CTCPClient_CE::FlushQueued(Shared& shared, bool writable) {
    std::lock_guard lock(shared.sendMutex);
    if (shared.queued.empty())
        return true;
    size_t taken = 0;
    while (writable && taken < shared.queued.size()) {
        const ssize_t sent = ::send(shared.socketFd, shared.queued.data() + taken,
                                    shared.queued.size() - taken, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            taken += size_t(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (taken > 0) {
        shared.queued.erase(shared.queued.begin(), shared.queued.begin() + ptrdiff_t(taken));
        shared.queueProgressAt = now;
        return true;
    }
    // The peer stopped reading.
    return now - shared.queueProgressAt < kSendStallTimeout;
}

// The body of the receive thread; returns when the thread is to end: true
// when a connection that was made has ended by itself, false after a stop
// request or a failed connect. Reads only `shared`, never the client object.
bool CTCPClient_CE::ReceiveLoop(Shared& shared) {
    if (shared.stopRequested.load())
        return false;

    // Until a connect succeeds only the wake-up descriptor is watched: a
    // failed or pending blocking Connect leaves the thread waiting here until
    // Close; StartConnect has this thread connect by itself.
    while (!shared.connected.load()) {
        pollfd wake{shared.wakeFd, POLLIN, 0};
        if (::poll(&wake, 1, -1) < 0 && errno != EINTR) {
            DebugOutput(kSocketError);
            ShutDown(shared.socketFd);
            return false;
        }
        DrainWakeUps(shared.wakeFd);
        if (shared.stopRequested.load())
            return false;
        if (shared.connectRequested.load() && !shared.connected.load()) {
            const bool connected = ConnectSocket(
                shared, std::chrono::steady_clock::now() + shared.connectTimeout, shared.wakeFd);
            if (shared.stopRequested.load())
                return false;
            // Connected before the sink hears of it: the sink's owner may send
            // at once, from another thread, and Send refuses until then.
            if (connected)
                shared.connected.store(true);
            if (shared.sink != nullptr)
                shared.sink->OnConnectResult(connected);
            // The sink may have closed or destroyed the client: check first.
            if (!connected || shared.stopRequested.load())
                return false;
        }
    }

    uint8_t buffer[kReadSize];
    for (;;) {
        // Room in the socket is watched only while bytes wait for it, and
        // then only until the peer has taken nothing for kSendStallTimeout.
        // Otherwise no time-out: Close and Send wake the thread.
        short events = POLLIN;
        int timeout = -1;
        {
            std::lock_guard lock(shared.sendMutex);
            if (!shared.queued.empty()) {
                events |= POLLOUT;
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                    shared.queueProgressAt + kSendStallTimeout - std::chrono::steady_clock::now());
                timeout = int(std::max<std::chrono::milliseconds::rep>(0, left.count()));
            }
        }
        pollfd fds[2] = {{shared.socketFd, events, 0}, {shared.wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0) {
            if (errno == EINTR)
                continue;
            DebugOutput(kSocketError);
            ShutDown(shared.socketFd);
            return true;
        }
        if (fds[1].revents != 0) {
            DrainWakeUps(shared.wakeFd);
            if (shared.stopRequested.load())
                return false;
        }
        // Send has written the debug line; the loss is reported as any other.
        if (shared.sendFailed.load()) {
            ShutDown(shared.socketFd);
            return true;
        }
        if (!FlushQueued(shared, (fds[0].revents & POLLOUT) != 0)) {
            DebugOutput(kSocketError);
            ShutDown(shared.socketFd);
            return true;
        }
        if (fds[0].revents & POLLNVAL) {
            DebugOutput(kSocketError);
            return true;
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t got = ::recv(shared.socketFd, buffer, sizeof buffer, 0);
            if (got < 0) {
                if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                    continue;
                DebugOutput(kSocketError);
                ShutDown(shared.socketFd);
                return true;
            }
            if (got == 0) {
                // The server closed the connection: end quietly.
                ShutDown(shared.socketFd);
                return true;
            }
            for (ssize_t at = 0; at < got;) {
                const int chunk = int(std::min<ssize_t>(got - at, kReadChunk));
                const bool accepted =
                    shared.sink == nullptr || shared.sink->Append(buffer + at, chunk);
                at += chunk;
                // The sink may have closed or destroyed the client: check first.
                if (shared.stopRequested.load())
                    return false;
                if (!accepted) {
                    DebugOutput(kSocketError);
                    ShutDown(shared.socketFd);
                    return true;
                }
            }
        }
        if (shared.stopRequested.load())
            return false;
    }
}

}  // namespace kavrel
