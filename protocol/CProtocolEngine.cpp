#include "protocol/CProtocolEngine.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/DebugSink.h"
#include "platform/TextCodec.h"

namespace kavrel {

namespace {

constexpr uint16_t kMinCurrentVersion = wire::kCurrentVersion;  // 5 and above speak Current

}  // namespace

CProtocolEngine::CProtocolEngine(CServerNotify* listener) : m_listener(listener) {}

CProtocolEngine::~CProtocolEngine() {
    // Waits for the receive thread unless this runs on it; either way no
    // Append of this engine is in progress on another thread afterwards.
    ReleaseClients();
    m_listener = nullptr;
    if (m_destroyedFlag != nullptr)
        *m_destroyedFlag = true;
}

bool CProtocolEngine::OnReceiveThread() const {
    return (m_client && m_client->OnReceiveThread()) ||
           (m_retiredClient && m_retiredClient->OnReceiveThread());
}

void CProtocolEngine::ReleaseClients() {
    if (m_client)
        m_client->Close();
    m_client.reset();
    m_retiredClient.reset();
}

bool CProtocolEngine::OpenClient(std::u16string_view address, int port) {
    if (address.empty())
        return false;
    // From inside a callback the buffer being dispatched would be reset under
    // the dispatcher's feet: refused.
    if (OnReceiveThread())
        return false;
    ReleaseClients();
    // No receive thread runs now: start the new connection with an empty buffer.
    m_readPos = 0;
    m_writePos = 0;
    m_streamBroken = false;

    m_client.reset(new (std::nothrow) CTCPClient_CE());
    if (!m_client)
        return false;
    m_client->SetConnectTimeout(m_connectTimeout);
    return m_client->Open(this, address, port);
}

bool CProtocolEngine::Connect(std::u16string_view address, int port) {
    return OpenClient(address, port) && m_client->Connect();
}

bool CProtocolEngine::StartConnect(std::u16string_view address, int port) {
    return OpenClient(address, port) && m_client->StartConnect();
}

void CProtocolEngine::OnConnectResult(bool connected) {
    if (m_listener != nullptr)
        m_listener->OnConnected(connected);
}

void CProtocolEngine::OnReceiveEnded() {
    if (m_listener != nullptr)
        m_listener->OnConnectionLost();
}

bool CProtocolEngine::SendPacket(size_t size) {
    return m_client && m_client->Send(m_sendBuffer.data(), int(size));
}

bool CProtocolEngine::SendLogin(std::u16string_view userName, std::u16string_view password,
                                int channel, ProtocolVariant variant) {
    DebugOutput("Login to server\n");
    m_variant.store(variant);
    const size_t size = wire::BuildLoginPacket(m_sendBuffer.data(), m_sequence++, ToUtf8(userName),
                                               ToUtf8(password), channel, variant);
    return SendPacket(size);
}

bool CProtocolEngine::SendPtz(int channel, int code) {
    DebugOutput("Send PTZ command to server\n");
    const size_t size = wire::BuildPtzPacket(m_sendBuffer.data(), m_sequence++, channel,
                                             uint8_t(code), m_variant.load());
    return SendPacket(size);
}

bool CProtocolEngine::SendChannel(int channelLeft, int channelWanted) {
    DebugOutput("Send channel command to server\n");
    const size_t size =
        wire::BuildChannelPacket(m_sendBuffer.data(), m_sequence++, channelLeft, channelWanted);
    return SendPacket(size);
}

void CProtocolEngine::Disconnect() {
    if (m_client) {
        m_client->Close();
        if (m_client->OnReceiveThread()) {
            // Inside a callback: this thread cannot wait for itself. Keep the
            // closed client so the owner's thread waits for it later.
            m_retiredClient = std::move(m_client);
        } else {
            m_client.reset();
        }
    }
    m_listener = nullptr;
}

bool CProtocolEngine::Append(const uint8_t* bytes, int count) {
    if (m_streamBroken)
        return false;
    if (count < 1)
        return true;

    bool destroyed = false;
    m_destroyedFlag = &destroyed;
    size_t left = size_t(count);
    while (left > 0) {
        size_t room = kReceiveBufferSize - m_writePos;
        if (room < left && m_readPos > 0) {
            MoveUnparsedToFront();
            room = kReceiveBufferSize - m_writePos;
        }
        // When the unparsed tail of a large packet plus the chunk exceed the
        // buffer, take what fits: the packet then completes (packets are
        // checked to fit) and dispatching makes room for the rest.
        const size_t take = std::min(room, left);
        if (take == 0) {
            // A full buffer always holds a complete packet; defensive only.
            m_streamBroken = true;
            break;
        }
        std::memcpy(m_receiveBuffer.data() + m_writePos, bytes, take);
        m_writePos += take;
        bytes += take;
        left -= take;

        DispatchResult result;
        while ((result = DispatchOne()) == DispatchResult::Dispatched) {
        }
        if (result == DispatchResult::Destroyed)
            return true;  // `this` is gone: touch nothing
        if (result == DispatchResult::Malformed) {
            m_streamBroken = true;
            break;
        }
        // What is left (a packet's first part, if anything) moves to the
        // front while it is no longer than what went before it: the bytes
        // stay in the buffer's first few kilobytes, warm in the cache, and
        // the rest of the buffer is touched only by packets that need it.
        if (m_readPos > 0 && m_writePos - m_readPos <= m_readPos)
            MoveUnparsedToFront();
    }
    m_destroyedFlag = nullptr;
    return !m_streamBroken;
}

void CProtocolEngine::MoveUnparsedToFront() {
    const size_t unparsed = m_writePos - m_readPos;
    std::memmove(m_receiveBuffer.data(), m_receiveBuffer.data() + m_readPos, unparsed);
    m_readPos = 0;
    m_writePos = unparsed;
}

CProtocolEngine::DispatchResult CProtocolEngine::DispatchOne() {
    const size_t buffered = m_writePos - m_readPos;
    if (buffered < wire::kPacketHeaderSize)
        return DispatchResult::NeedMore;
    const uint8_t* packet = m_receiveBuffer.data() + m_readPos;
    const uint64_t length = wire::ReadPacketHeader(packet).length;
    // A length below 4 is shorter than its own sequence field; a packet longer
    // than the buffer could never complete. Neither can be read past.
    if (length < 4 || length + 4 > kReceiveBufferSize)
        return DispatchResult::Malformed;
    const size_t packetSize = size_t(length) + 4;
    if (buffered < packetSize)
        return DispatchResult::NeedMore;

    size_t offset = wire::kPacketHeaderSize;
    while (packetSize - offset >= wire::kTlvHeaderSize) {
        const wire::TlvHeader record = wire::ReadTlvHeader(packet + offset);
        const size_t payloadAt = offset + wire::kTlvHeaderSize;
        // A record running past the packet's end is skipped with the packet.
        if (record.length > packetSize - payloadAt)
            break;
        if (!HandleRecord(record.type, packet + payloadAt, record.length)) {
            return DispatchResult::Destroyed;
        }
        offset = payloadAt + record.length;
    }
    m_readPos += packetSize;
    return DispatchResult::Dispatched;
}

bool CProtocolEngine::Raise(int code) {
    if (m_listener == nullptr)
        return true;
    const bool* destroyed = m_destroyedFlag;
    m_listener->OnServerEvent(code);
    return Survived(destroyed);
}

bool CProtocolEngine::DeliverVideo(const uint8_t* payload, size_t length, int keyFrame) {
    if (m_listener == nullptr)
        return true;
    const bool* destroyed = m_destroyedFlag;
    m_listener->OnVideoData(0, payload, int(length), 0, 0, keyFrame);
    return Survived(destroyed);
}

bool CProtocolEngine::HandleRecord(uint16_t type, const uint8_t* payload, size_t length) {
    const bool legacy = m_variant.load() == ProtocolVariant::Legacy;
    switch (type) {
        case wire::kVersionInfoAlt:
        case wire::kVersionInfo: {
            if (length < 2)
                return true;
            const uint16_t version = wire::ReadU16(payload);
            if (version < kMinCurrentVersion && !legacy) {
                return Raise(CServerNotify::EVENT_USE_LEGACY);
            }
            if (version >= kMinCurrentVersion && legacy) {
                return Raise(CServerNotify::EVENT_USE_CURRENT);
            }
            return true;
        }
        case wire::kLoginAnswer:
            DebugOutput("TLV_T_LOGIN_ANSWER\n");
            if (length < 4)
                return true;
            if (wire::ReadU16(payload) == 1) {
                DebugOutput("Login succeed\n");
                return Raise(CServerNotify::EVENT_LOGIN_SUCCEEDED);
            }
            DebugOutput("Login failed\n");
            return Raise(CServerNotify::EVENT_LOGIN_FAILED);
        case wire::kControlAnswer:
            DebugOutput("TLV_T_CONTROL_ANSWER\n");
            return true;
        case wire::kChannelAnswer:
            DebugOutput("TLV_T_CHANNLE_ANSWER\n");
            return true;
        case wire::kPhoneInfoAnswer:
            DebugOutput("TLV_T_PHONE_INFO_ANSWER\n");
            return true;
        case wire::kDvsInfoRequest:
            DebugOutput("TLV_T_DVS_INFO_REQUEST\n");
            [[fallthrough]];
        case wire::kDvsInfoAnswer: {
            DvsInfo info;
            if (length < info.bytes.size() || m_listener == nullptr)
                return true;
            std::memcpy(info.bytes.data(), payload, info.bytes.size());
            const bool* destroyed = m_destroyedFlag;
            m_listener->OnDvsInfo(info);
            return Survived(destroyed);
        }
        case 97:
        case 98:
        case 99:
            return true;
        case wire::kVideoKeyFrame:
        case wire::kVideoKeyFrameAlt:
            return DeliverVideo(payload, length, 1);
        case wire::kVideoFrameInfoEx:
            if (legacy) {
                DebugOutput("TLV_T_VIDEO_FRAME_INFO_EX\n");
                return true;
            }
            return DeliverVideo(payload, length, 0);
        case wire::kVideoFrame:
            return legacy ? DeliverVideo(payload, length, 0) : true;
        case wire::kVideoFrameAlt:
            return DeliverVideo(payload, length, 0);
        case 199:
        case 200:
        case 201:
        case 203: {
            DebugPrintf("TLV_T_STREAM_FORMAT_INFO:%d\n", int(type));
            if (length < m_lastStreamFormat.bytes.size())
                return true;
            std::memcpy(m_lastStreamFormat.bytes.data(), payload, m_lastStreamFormat.bytes.size());
            const StreamFormatInfo format = m_lastStreamFormat;
            if (!Raise(CServerNotify::EVENT_LOGIN_SUCCEEDED))
                return false;
            if (m_listener == nullptr)
                return true;
            const bool* destroyed = m_destroyedFlag;
            m_listener->OnStreamFormat(format);
            return Survived(destroyed);
        }
        default:
            DebugPrintf("Unknow command:%d\n", int(type));
            return true;
    }
}

}  // namespace kavrel
