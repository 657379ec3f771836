#pragma once
// One connection's protocol state: owns the TCP client, builds and sends the
// three requests (login, PTZ control, channel switch), buffers what arrives,
// cuts it into packets and records, and reports them to one CServerNotify.
//
// A new engine serves each connection attempt and is never reused. It holds
// its buffers inline (about 240 KB): allocate it on the heap.
//
// Threads: the constructor, Connect, the Send* requests, Disconnect and the
// destructor run on the owner's thread (the user-interface thread). Append, the
// dispatcher and every CServerNotify call run on the client's receive thread.
//
// Malformed input: a packet header whose length is below 4, or a packet that
// could never fit the receive buffer, ends the connection as a read error does
// (Append returns false; the client writes "Socket error\n", shuts the socket
// and its receive thread ends). Nothing past it is dispatched and nothing more
// is buffered.

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "protocol/CServerNotify.h"
#include "protocol/CTCPClient_CE.h"
#include "protocol/ReceiveSink.h"
#include "protocol/WireFormat.h"

namespace kavrel {

class CProtocolEngine final : public ReceiveSink {
  public:
    static constexpr size_t kReceiveBufferSize = 200000;
    static constexpr size_t kSendBufferSize = 40000;

    // `listener` is not owned; it receives callbacks until Disconnect.
    explicit CProtocolEngine(CServerNotify* listener);
    // Disconnects if the owner did not (waiting for the receive thread unless
    // called on it). May run inside a callback of this engine.
    ~CProtocolEngine();
    CProtocolEngine(const CProtocolEngine&) = delete;
    CProtocolEngine& operator=(const CProtocolEngine&) = delete;

    // False at once for an empty address. Otherwise replaces any client with a
    // new one, opens it with this engine as its sink and connects (blocking,
    // bounded). False when opening or connecting fails; the failed client stays
    // until Disconnect. Owner's thread only (refused inside a callback).
    bool Connect(std::u16string_view address, int port);

    // As Connect, but without blocking the caller: the client's receive thread
    // resolves and connects (within the connect timeout for both) and the
    // outcome reaches the listener's OnConnected on that thread; Disconnect
    // ends a connect in progress at once. False at once, and no OnConnected,
    // for an empty address or when the client cannot be opened. Send nothing
    // before OnConnected(true): requests sent earlier are not sent.
    bool StartConnect(std::u16string_view address, int port);

    // The three requests. Each takes the next sequence number even when there
    // is no client and nothing is sent. True when the packet was sent or
    // queued for sending (the client never waits for the peer); false without
    // a connected client, or when the send failed: the connection is then
    // lost, and the listener hears OnConnectionLost from the receive thread
    // unless the connection had already ended.
    // Stores the variant (it decides how records 101 and 102 and version
    // records are read) and sends the login packet of that variant.
    bool SendLogin(std::u16string_view userName, std::u16string_view password, int channel,
                   ProtocolVariant variant);
    // `code` is a PTZ command code (wire::PtzCode); channel is 0-based.
    bool SendPtz(int channel, int code);
    // Channel switch request (the Legacy dialect's way); channels are 0-based.
    bool SendChannel(int channelLeft, int channelWanted);

    // Receive thread: buffers a chunk and dispatches every complete packet.
    // False once the stream is malformed (see above); it then stays false and
    // buffers nothing more. Not re-entrant.
    bool Append(const uint8_t* bytes, int count) override;
    // Receive thread: passed on to the listener's OnConnected and OnConnectionLost.
    void OnConnectResult(bool connected) override;
    void OnReceiveEnded() override;

    // Closes and releases the client (waiting for its receive thread unless
    // called on it), then clears the listener: no callback is made after this
    // returns. Called from inside a callback, the closed client is kept until
    // the destructor or the next Connect, which wait for its thread; no other
    // thread may use the engine meanwhile.
    void Disconnect();

    // The dialect of the last SendLogin (Current before any). Any thread.
    ProtocolVariant Variant() const { return m_variant.load(); }

    // Copy of the last stream-format payload received. Receive thread, or the
    // owner's thread once the receive thread has ended.
    const StreamFormatInfo& LastStreamFormat() const { return m_lastStreamFormat; }

    // Bound on the blocking connect of later Connect calls; tests shorten it.
    void SetConnectTimeout(std::chrono::milliseconds timeout) { m_connectTimeout = timeout; }

  private:
    enum class DispatchResult { NeedMore, Dispatched, Malformed, Destroyed };

    DispatchResult DispatchOne();
    // Receive thread: the unparsed bytes move to the start of the buffer.
    void MoveUnparsedToFront();
    // Acts on one record; false when a callback destroyed the engine.
    bool HandleRecord(uint16_t type, const uint8_t* payload, size_t length);
    bool Raise(int code);
    bool DeliverVideo(const uint8_t* payload, size_t length, int keyFrame);
    // True when the engine survived the callback just made. Static: it must
    // not touch `this`, which may be gone.
    static bool Survived(const bool* destroyed) { return !*destroyed; }
    bool SendPacket(size_t size);
    void ReleaseClients();
    // Replaces any client by a new open one, with an empty receive buffer.
    bool OpenClient(std::u16string_view address, int port);
    // True on the receive thread of the current or the retired client.
    bool OnReceiveThread() const;

    // Owner's thread only.
    uint32_t m_sequence = 0;
    // Written by SendLogin (owner's thread), read by the dispatcher.
    std::atomic<ProtocolVariant> m_variant{ProtocolVariant::Current};

    // Receive thread only (the owner's thread resets them in Connect, when no
    // receive thread runs). Unparsed bytes lie in [m_readPos, m_writePos).
    std::array<uint8_t, kReceiveBufferSize> m_receiveBuffer;
    size_t m_writePos = 0;
    size_t m_readPos = 0;
    bool m_streamBroken = false;
    StreamFormatInfo m_lastStreamFormat;
    // Points at a flag on the stack of the Append in progress; the destructor
    // sets it so the dispatcher touches nothing of a destroyed engine. Only
    // non-null during Append, on the receive thread.
    bool* m_destroyedFlag = nullptr;

    // Owner's thread only.
    std::array<uint8_t, kSendBufferSize> m_sendBuffer;

    // Set by the constructor, cleared by Disconnect; read by the dispatcher.
    // Disconnect clears it only after the receive thread has ended, or on that
    // thread itself, so the two never race.
    CServerNotify* m_listener;

    // Owner's thread (or the receive thread inside a callback, see Disconnect).
    std::unique_ptr<CTCPClient_CE> m_client;
    // A client closed from its own receive thread, kept so that its thread can
    // be waited for from the owner's thread.
    std::unique_ptr<CTCPClient_CE> m_retiredClient;
    std::chrono::milliseconds m_connectTimeout = CTCPClient_CE::kDefaultConnectTimeout;
};

}  // namespace kavrel
