#pragma once
// The protocol engine's listener: what arrives from the server, decoded.
//
// Thread: every operation is called on the connection's receive thread (the
// thread of the CTCPClient_CE that the engine owns), synchronously, one call at
// a time, in the order the records stand in the stream. Never on the thread
// that called CProtocolEngine::Connect.
//
// Blocking: CProtocolEngine::Disconnect waits for the receive thread to end, so
// an operation must not wait for the thread that disconnects (typically the
// user-interface thread); post work there instead and return.
//
// Lifetime: no operation is called after CProtocolEngine::Disconnect has
// returned. An operation may call Disconnect on its own engine, and may even
// destroy it; the engine then makes no further call and touches nothing of
// itself once the operation returns.

#include <cstdint>

#include "protocol/WireFormat.h"

namespace kavrel {

class CServerNotify {
  public:
    // Codes passed to OnServerEvent; no other code is ever raised.
    // A login answer with result 1, and also every stream-format record (just
    // before OnStreamFormat).
    static constexpr int EVENT_LOGIN_SUCCEEDED = 4;
    // A login answer with any result other than 1.
    static constexpr int EVENT_LOGIN_FAILED = 5;
    // The server announced a version below 5 while the engine speaks Current:
    // log in again in the Legacy dialect (on a new engine).
    static constexpr int EVENT_USE_LEGACY = 9;
    // The server announced version 5 or above while the engine speaks Legacy:
    // log in again in the Current dialect (on a new engine).
    static constexpr int EVENT_USE_CURRENT = 10;

    CServerNotify() = default;
    CServerNotify(const CServerNotify&) = delete;
    CServerNotify& operator=(const CServerNotify&) = delete;

    // One of the EVENT_ codes above.
    virtual void OnServerEvent(int code) = 0;

    // Server information (record types 70 and 71), the first 72 payload bytes.
    virtual void OnDvsInfo(DvsInfo info) = 0;

    // Stream format (record types 199, 200, 201 and 203), the first 40 payload
    // bytes; always preceded by OnServerEvent(EVENT_LOGIN_SUCCEEDED).
    virtual void OnStreamFormat(StreamFormatInfo info) = 0;

    // One encoded H.264 frame. `bytes` points into the engine's receive buffer
    // and is valid only during this call: copy what you keep. `length` is the
    // record's payload length (0 is possible). `tag`, `extra1` and `extra2` are
    // always 0; `keyFrame` is 1 for record types 100 and 104, else 0.
    virtual void OnVideoData(int tag, const uint8_t* bytes, int length, int extra1, int extra2,
                             int keyFrame) = 0;

    // Beyond the four: how the connection itself fares, for a listener that
    // reconnects. Both are called on the receive thread and must not wait for
    // the owner's thread either.
    // The outcome of CProtocolEngine::StartConnect (never of Connect).
    virtual void OnConnected(bool /*connected*/) {}
    // A connection that was made has ended by itself: the server closed it, a
    // read or a send failed, the server stopped taking what was sent, or the
    // stream was malformed. Not called after Disconnect.
    virtual void OnConnectionLost() {}

  protected:
    // Not deleted through this interface.
    ~CServerNotify() = default;
};

}  // namespace kavrel
