#pragma once
// The one TCP connection to a video server: IPv4 stream socket, a blocking but
// bounded connect, a receive thread that hands each chunk read to a sink, and
// whole-packet sends. Knows nothing of the packet format. A client serves one
// connection attempt and is never reused.
//
// Threads: Open, Connect, Send, Close and the destructor are called by the
// owner's thread (the user-interface thread). The receive thread, started by
// Open, reads, calls the sink, and writes out what Send could not hand to the
// socket at once. A stop request (Close) wakes it at once through an eventfd;
// Close then waits for it to end.
//
// Close hands a socket whose last bytes have not reached the peer yet to a
// finishing thread of its own, which writes them out and closes the socket
// within kCloseFlushTimeout; the caller never waits for it. The program's end
// waits for these threads (WaitForClosingSockets).
//
// Close and the destructor may also be called from inside the sink's Append
// (on the receive thread itself): the client then does not join its own thread;
// the thread sees the stop request when Append returns and ends without
// touching the client again (its state is shared, not borrowed).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "protocol/ReceiveSink.h"

namespace kavrel {

class CTCPClient_CE {
  public:
    // The bound on a blocking connect (the handheld's own stack gave up after
    // about 21 s; Linux alone would wait over two minutes).
    static constexpr std::chrono::milliseconds kDefaultConnectTimeout{20000};
    // The sink is handed at most this many bytes at a time; every chunk of a
    // read goes to the sink before the next read.
    static constexpr int kReadChunk = 10240;
    // One read takes at most this many bytes: whatever has arrived, up to a
    // whole record of the largest size, in one call per wake-up (a frame of
    // 16 KB cost two polls and two reads in chunks of kReadChunk).
    static constexpr int kReadSize = 65536;
    // How long queued bytes may wait for a peer that stopped reading before
    // the connection counts as lost ("Socket error\n").
    static constexpr std::chrono::milliseconds kSendStallTimeout{1000};
    // Bytes Send may queue behind a full socket. Requests are at most 88
    // bytes, so this is some hundred commands; more means the peer is gone.
    static constexpr size_t kSendQueueLimit = 8192;
    // The socket's own send buffer (the kernel doubles it). Left to grow, it
    // takes megabytes on loopback, and a peer that stopped reading would go
    // unnoticed for thousands of commands.
    static constexpr int kSocketSendBuffer = 8192;
    // How long a closed connection's last bytes (queued or not yet
    // acknowledged) may take to reach the peer, on a finishing thread.
    static constexpr std::chrono::milliseconds kCloseFlushTimeout{250};
    // Name lookups given up on (deadline or Close) whose threads still wait
    // for an answer, per process. A name server that never answers must not
    // pile up threads, and any lookup still running may yet be given up on:
    // so at most this many lookup threads run at a time, and a lookup beyond
    // them fails at once.
    static constexpr int kMaxAbandonedLookups = 4;

    CTCPClient_CE();
    virtual ~CTCPClient_CE();
    CTCPClient_CE(const CTCPClient_CE&) = delete;
    CTCPClient_CE& operator=(const CTCPClient_CE&) = delete;

    // Stores the sink (not owned; must outlive the receive thread, that is,
    // until Close returns), the address and the port; creates the socket and
    // starts the receive thread, which waits for Connect before it reads.
    // False if the socket or the thread cannot be made, or if already opened.
    bool Open(ReceiveSink* sink, std::u16string_view address, int port);

    // Resolves the address and connects on the calling thread, blocking for at
    // most the connect timeout (lookup and connect together); the socket is
    // non-blocking afterwards. Address rules: empty is
    // 0.0.0.0; otherwise the text is parsed with inet_addr (dotted forms,
    // shorthand included) and, when that yields all bits set (a parse failure,
    // or 255.255.255.255 itself), looked up as a host name, first IPv4 result.
    // The low 16 bits of the port are used. True when connected; false on a
    // failed lookup, refusal or time-out (no debug line), and at once for a
    // host name while kMaxAbandonedLookups lookups (given up on or not) still run.
    bool Connect();

    // Connects without blocking the caller: the receive thread resolves the
    // address and connects as Connect would, within the connect timeout for
    // both, then reports to the sink's OnConnectResult and, when connected,
    // starts reading. Close ends a connect in progress at once (a name lookup
    // that is still running is abandoned and finishes on its own). False
    // when the client is not open, was closed or was already connecting.
    bool StartConnect();

    // Hands all bytes to the socket, or queues what it cannot take now for
    // the receive thread to write out; never waits. True when the bytes were
    // sent or queued, or length is below 1 (the socket is then not touched).
    // While a StartConnect is still connecting: false, and nothing else
    // happens. Otherwise a send that fails, bytes that would overflow
    // kSendQueueLimit, or a send after the connection ended: "Socket error\n",
    // false, and the connection is lost: the receive thread shuts it down and
    // reports OnReceiveEnded (once, unless it had already ended). Queued bytes
    // that the peer does not take for kSendStallTimeout end it the same way.
    bool Send(const void* bytes, int length);

    // Bytes Send queued that the socket has not taken yet. Any thread; for
    // tests and diagnostics.
    size_t QueuedSendBytes() const;

    // Asks the receive thread to stop, wakes it, waits for it to end (unless
    // called on it), and closes the socket. True when the socket was open and
    // closing it succeeded. Safe to call more than once. Bytes sent that have
    // not reached the peer yet are left to a finishing thread, which writes
    // them out and closes the socket within the close flush timeout; Close
    // itself does not wait for the peer.
    bool Close();

    // Sockets handed to finishing threads and not closed yet, across all
    // clients. Any thread.
    static int ClosingSockets();
    // Waits, for at most `limit`, until every finishing thread has closed its
    // socket; false at the limit. For the program's end and for tests.
    static bool WaitForClosingSockets(std::chrono::milliseconds limit);

    // For tests and diagnostics: true once the receive thread has finished or
    // was never started.
    bool ReceiveThreadEnded() const;

    // Receive threads of all clients that have not yet finished, including
    // those left to end on their own after a client was destroyed from inside
    // its sink. For tests and shutdown checks.
    static int ActiveReceiveThreads();

    // True when called on this client's receive thread (from inside the
    // sink). The engine uses it to avoid waiting for the thread it runs on.
    bool OnReceiveThread() const;

    // Bound on Connect; tests shorten it. Call before Connect.
    void SetConnectTimeout(std::chrono::milliseconds timeout) { m_connectTimeout = timeout; }
    // Bound on the finishing of a closed connection (kCloseFlushTimeout);
    // tests lengthen it so that a slow machine cannot cut the bytes short.
    // Call before Close.
    void SetCloseFlushTimeout(std::chrono::milliseconds timeout) { m_closeFlushTimeout = timeout; }

    // Replaces the system's name lookup (getaddrinfo, first IPv4 result) for
    // every later lookup; an empty function restores it. For tests and
    // benches that need a lookup that never answers. The function runs on a
    // lookup thread of its own, may block, and must be thread-safe.
    using NameLookup = std::function<bool(const std::string& name, uint32_t& addressNetworkOrder)>;
    static void SetNameLookup(NameLookup lookup);

    // Lookups given up on whose threads have not finished yet (at most
    // kMaxAbandonedLookups). For tests and diagnostics.
    static int AbandonedLookups();

  private:
    struct Shared;
    static void ReceiveThread(std::shared_ptr<Shared> shared);
    static bool ReceiveLoop(Shared& shared);
    // Receive thread: writes queued bytes out; false when the connection is
    // to be given up (a send error, or the peer took nothing for too long).
    static bool FlushQueued(Shared& shared, bool writable);
    // Resolves the shared address and connects the shared socket before
    // `deadline`. `wakeFd` (or -1) is watched meanwhile; the attempt ends at
    // once when it fires and a stop was requested.
    static bool ConnectSocket(Shared& shared, std::chrono::steady_clock::time_point deadline,
                              int wakeFd);

    std::chrono::milliseconds m_connectTimeout = kDefaultConnectTimeout;
    std::chrono::milliseconds m_closeFlushTimeout = kCloseFlushTimeout;
    // Socket, wake-up descriptor, flags and sink, shared with the receive
    // thread; see the .cpp for which thread writes what.
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;  // owner's thread only
};

}  // namespace kavrel
