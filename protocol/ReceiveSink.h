#pragma once
// Where CTCPClient_CE delivers the bytes it reads. The protocol engine is the
// one sink in the program; tests supply their own.

#include <cstdint>

namespace kavrel {

class ReceiveSink {
  public:
    // Called on the client's receive thread with each chunk read (1 to 10240
    // bytes); `bytes` is valid only during the call. Return false when the
    // stream can no longer be read (a malformed packet): the client then ends
    // the connection as on a read error ("Socket error\n", socket shut down,
    // receive thread ends). The sink may close or destroy its client from
    // inside this call; the client then touches nothing of itself afterwards.
    virtual bool Append(const uint8_t* bytes, int count) = 0;

    // A connect started by CTCPClient_CE::StartConnect has ended: `connected`
    // tells whether it succeeded. Called once, on the receive thread; reading
    // starts after it returns, and after a failure the thread ends.
    virtual void OnConnectResult(bool /*connected*/) {}

    // The connection has ended by itself: the server closed it, a read or a
    // send failed, queued bytes found no room for too long, or Append refused
    // the stream. Called once, on the receive thread, as its
    // last act; never when Close ended the thread, nor before a connect succeeded.
    virtual void OnReceiveEnded() {}

  protected:
    ~ReceiveSink() = default;
};

}  // namespace kavrel
