#pragma once
// A server of the camera protocol as a viewing session's source: one
// CProtocolEngine per connection, its callbacks passed on as the source's.
// Nothing is added to or taken from what goes over the wire.

#include <chrono>
#include <memory>
#include <string>

#include "protocol/CServerNotify.h"
#include "source/StreamSource.h"

namespace kavrel {

class CProtocolEngine;

class ProtocolSource final : public StreamSource, private CServerNotify {
  public:
    // `listener` is not owned and must outlive the source.
    ProtocolSource(std::u16string address, int port, SourceListener* listener);
    ~ProtocolSource() override;

    // Null when the engine's buffers cannot be had.
    static std::unique_ptr<ProtocolSource> Make(std::u16string address, int port,
                                                SourceListener* listener);

    bool Start(std::chrono::milliseconds connectTimeout) override;
    bool Login(const SourceLogin& login) override;
    bool CanSteer() const override { return true; }
    bool HasChannels() const override { return true; }
    bool SendPtz(int channel, int code) override;
    bool SendChannel(int channelLeft, int channelWanted) override;
    // Waits for the receive thread, whose connect ends at once.
    void Stop() override;

  private:
    // Receive thread of the engine.
    void OnServerEvent(int code) override;
    void OnDvsInfo(DvsInfo info) override;
    void OnStreamFormat(StreamFormatInfo info) override;
    void OnVideoData(int tag, const uint8_t* bytes, int length, int extra1, int extra2,
                     int keyFrame) override;
    void OnConnected(bool connected) override;
    void OnConnectionLost() override;

    const std::u16string m_address;
    const int m_port;
    SourceListener* const m_listener;
    std::unique_ptr<CProtocolEngine> m_engine;
};

}  // namespace kavrel
