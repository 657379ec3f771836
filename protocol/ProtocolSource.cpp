#include "protocol/ProtocolSource.h"

#include <new>

#include "protocol/CProtocolEngine.h"

namespace kavrel {

ProtocolSource::ProtocolSource(std::u16string address, int port, SourceListener* listener)
    : m_address(std::move(address)), m_port(port), m_listener(listener) {}

ProtocolSource::~ProtocolSource() {
    Stop();
}

std::unique_ptr<ProtocolSource> ProtocolSource::Make(std::u16string address, int port,
                                                     SourceListener* listener) {
    auto source = std::make_unique<ProtocolSource>(std::move(address), port, listener);
    // The engine holds its buffers inline (about 240 KB).
    source->m_engine.reset(new (std::nothrow) CProtocolEngine(source.get()));
    if (!source->m_engine)
        return nullptr;
    return source;
}

bool ProtocolSource::Start(std::chrono::milliseconds connectTimeout) {
    if (!m_engine)
        return false;
    m_engine->SetConnectTimeout(connectTimeout);
    return m_engine->StartConnect(m_address, m_port);
}

bool ProtocolSource::Login(const SourceLogin& login) {
    return m_engine &&
           m_engine->SendLogin(login.userName, login.password, login.channel, login.variant);
}

bool ProtocolSource::SendPtz(int channel, int code) {
    return m_engine && m_engine->SendPtz(channel, code);
}

bool ProtocolSource::SendChannel(int channelLeft, int channelWanted) {
    return m_engine && m_engine->SendChannel(channelLeft, channelWanted);
}

void ProtocolSource::Stop() {
    if (m_engine)
        m_engine->Disconnect();
}

void ProtocolSource::OnServerEvent(int code) {
    switch (code) {
        case EVENT_LOGIN_SUCCEEDED:
            m_listener->OnSourceEvent(SourceEvent::kLoginSucceeded);
            break;
        case EVENT_LOGIN_FAILED:
            m_listener->OnSourceEvent(SourceEvent::kLoginRefused);
            break;
        case EVENT_USE_LEGACY:
            m_listener->OnSourceEvent(SourceEvent::kUseLegacy);
            break;
        case EVENT_USE_CURRENT:
            m_listener->OnSourceEvent(SourceEvent::kUseCurrent);
            break;
        default:
            break;
    }
}

void ProtocolSource::OnDvsInfo(DvsInfo info) {
    m_listener->OnChannelCount(info.ChannelCount());
}

void ProtocolSource::OnStreamFormat(StreamFormatInfo info) {
    m_listener->OnStreamFormat(info, VideoCodec::kUnknown);
}

void ProtocolSource::OnVideoData(int /*tag*/, const uint8_t* bytes, int length, int /*extra1*/,
                                 int /*extra2*/, int keyFrame) {
    // The whole record has been read: this is when the frame arrived.
    m_listener->OnFrame(bytes, length, keyFrame != 0, std::chrono::steady_clock::now());
}

void ProtocolSource::OnConnected(bool connected) {
    m_listener->OnSourceConnected(connected);
}

void ProtocolSource::OnConnectionLost() {
    m_listener->OnSourceLost();
}

}  // namespace kavrel
