#include "tools/sim/SimSession.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "tools/sim/PtzState.h"
#include "tools/sim/SimFaults.h"
#include "tools/sim/SimReport.h"
#include "tools/sim/VideoSource.h"

namespace kavrel::sim {
namespace {

constexpr uint16_t kLoginAccepted = 1;
constexpr uint16_t kRefusedCredentials = 2;
constexpr uint16_t kRefusedChannel = 3;
constexpr size_t kMaxRecordPayload = 65535;
constexpr uint16_t kAbsurdSide = 65535;

const char* DialectName(ProtocolVariant v) {
    return v == ProtocolVariant::Current ? "current" : "legacy";
}

// User names come from the network: keep the log one line per event.
std::string Printable(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    return out;
}

std::vector<uint8_t> ResultPayload(uint16_t result) {
    std::vector<uint8_t> payload(4, 0);
    wire::WriteU16(payload.data(), result);
    return payload;
}

}  // namespace

SimSession::SimSession(int fd, int id, std::string peer, SimContext& context)
    : m_context(context),
      m_options(context.options),
      m_id(id),
      m_peer(std::move(peer)),
      m_socket(fd, context.stopFd, context.options.faults.Has(Fault::OneByteWrites), context.stats),
      m_period(std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) /
               context.options.fps) {}

void SimSession::Log(const char* format, ...) {
    char text[768];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LogEvent("[conn %d] %s", m_id, text);
}

bool SimSession::End(std::string reason) {
    m_endReason = std::move(reason);
    return false;
}

void SimSession::Run() {
    Log("connected from %s", m_peer.c_str());
    while (true) {
        auto timeout = std::chrono::milliseconds(-1);  // nothing to send: wait for the viewer
        if (m_streaming && !m_stalled) {
            timeout =
                std::max(std::chrono::milliseconds(0),
                         std::chrono::ceil<std::chrono::milliseconds>(m_nextFrame - Clock::now()));
        }
        const SessionSocket::Wait wait = m_socket.WaitReadable(timeout);
        if (wait == SessionSocket::Wait::Stop) {
            m_endReason = "server stopping";
            break;
        }
        if (wait == SessionSocket::Wait::Error) {
            m_endReason = "wait failed";
            break;
        }
        if (wait == SessionSocket::Wait::Readable && !ReadFromViewer())
            break;
        if (m_streaming && !m_stalled && Clock::now() >= m_nextFrame) {
            if (!SendNextFrame())
                break;
            m_nextFrame += m_period;
            // After a long pause (a slow encoder, a full socket) go on at the
            // normal rate instead of sending the missed frames in a burst.
            if (Clock::now() - m_nextFrame > std::chrono::seconds(1))
                m_nextFrame = Clock::now();
        }
    }
    Log("closed: %s (%llu frames sent)", m_endReason.c_str(), (unsigned long long)m_framesSent);
}

bool SimSession::ReadFromViewer() {
    uint8_t buffer[4096];
    const ssize_t n = m_socket.Read(buffer, sizeof buffer);
    if (n == 0)
        return End("viewer closed the connection");
    if (n == -1)
        return End("read failed");
    if (n < 0)
        return true;  // woken without data
    m_reader.Append(buffer, size_t(n));
    std::vector<ViewerRecord> records;
    std::string why;
    while (true) {
        switch (m_reader.Next(records, why)) {
            case ViewerPacketReader::Result::Packet:
                if (!HandlePacket(records))
                    return false;
                break;
            case ViewerPacketReader::Result::NeedMore:
                return true;
            case ViewerPacketReader::Result::Malformed:
                return End("malformed packet from the viewer: " + why);
        }
    }
}

bool SimSession::HandlePacket(const std::vector<ViewerRecord>& records) {
    for (const ViewerRecord& record : records) {
        bool keepGoing = true;
        switch (record.type) {
            case wire::kVersionInfo:
            case wire::kVersionInfoAlt:
                break;  // read together with the login it precedes
            case wire::kLoginRequest:
                keepGoing = HandleLogin(records, record);
                break;
            case wire::kControlRequest:
                keepGoing = HandlePtz(record);
                break;
            case wire::kChannelRequest:
                keepGoing = HandleChannel(record);
                break;
            default:
                Log("record type %u (%zu bytes) is not a request: ignored", unsigned(record.type),
                    record.payload.size());
        }
        if (!keepGoing)
            return false;
    }
    return true;
}

bool SimSession::HandleLogin(const std::vector<ViewerRecord>& records, const ViewerRecord& login) {
    if (m_streaming) {
        Log("second login on a streaming connection: ignored");
        return true;
    }
    // The version record before the login tells its layout; without one, its size does.
    int viewerVersion = -1;
    for (const ViewerRecord& r : records) {
        if ((r.type == wire::kVersionInfo || r.type == wire::kVersionInfoAlt) &&
            r.payload.size() >= 2) {
            viewerVersion = wire::ReadU16(r.payload.data());
            break;
        }
    }
    wire::LoginRequest request;
    const bool parsed = wire::ParseLoginPayload(login.payload, request);
    if (!parsed || (viewerVersion >= 0 && VariantOfVersion(viewerVersion) != request.variant)) {
        return End("malformed login: version " + std::to_string(viewerVersion) + " with a " +
                   std::to_string(login.payload.size()) + "-byte login record");
    }
    const int channel = request.Channel();
    Log("login: user '%s', channel %d, %s layout", Printable(request.user).c_str(), channel,
        DialectName(request.variant));
    if (m_options.faults.Has(Fault::NoLoginAnswer)) {
        Log("login not answered (fault no-login-answer)");
        return true;
    }

    const uint16_t version = AnnouncedVersion(m_options, m_context.loginCount.fetch_add(1));
    const ProtocolVariant dialect = VariantOfVersion(version);
    uint8_t versionPayload[4];
    wire::WriteU16(versionPayload, version);
    wire::WriteU16(versionPayload + 2, dialect == ProtocolVariant::Current ? wire::kCurrentSecond
                                                                           : wire::kLegacySecond);
    wire::PacketBuilder answer(m_sequence++);
    answer.Add(wire::kVersionInfo, versionPayload);
    if (request.variant != dialect) {
        // The viewer is told the server's version and is expected to come back
        // in the other dialect; its login in this one is not answered.
        Log("announced version %u: the viewer should switch to the %s dialect", unsigned(version),
            DialectName(dialect));
        return SendPacket(answer);
    }

    // A login field carries at most its width of the password.
    const size_t passwordField = request.variant == ProtocolVariant::Current ? 19 : 16;
    const bool credentialsOk = request.user == m_options.user &&
                               request.password == m_options.password.substr(0, passwordField);
    uint16_t result = kLoginAccepted;
    if (m_options.faults.Has(Fault::RefuseLogin)) {
        result = uint16_t(m_options.refuseCode);
        Log("login refused with result %u (fault refuse-login), version %u", unsigned(result),
            unsigned(version));
    } else if (!credentialsOk) {
        result = kRefusedCredentials;
        Log("login refused: wrong user or password (result 2), version %u", unsigned(version));
    } else if (channel < 0 || channel >= m_options.channels) {
        result = kRefusedChannel;
        Log("login refused: channel %d not offered, %d channels (result 3), version %u", channel,
            m_options.channels, unsigned(version));
    }
    const auto resultPayload = ResultPayload(result);
    answer.Add(wire::kLoginAnswer, resultPayload);
    if (result != kLoginAccepted) {
        m_context.stats.loginsRefused.fetch_add(1);
        return SendPacket(answer);
    }
    const DvsInfo info = DvsInfo::Make(uint8_t(m_options.channels));
    answer.Add(wire::kDvsInfoAnswer, info.bytes);
    m_context.stats.loginsAccepted.fetch_add(1);
    Log("login accepted: version %u, %s dialect, channel %d of %d", unsigned(version),
        DialectName(dialect), channel, m_options.channels);
    if (!SendPacket(answer))
        return false;
    m_variant = request.variant;
    m_channel = channel;
    return StartStream();
}

bool SimSession::StartStream() {
    std::string error;
    if (m_context.clip) {
        m_source = std::make_unique<ClipSource>(m_context.clip);
    } else {
        auto pattern = std::make_unique<PatternSource>(m_options, m_channel);
        const PictureSize size = m_options.faults.Has(Fault::LargerPicture)
                                     ? m_options.EffectiveFaultSize()
                                     : m_options.size;
        if (!pattern->Open(size, error))
            return End("encoder: " + error);
        m_source = std::move(pattern);
    }
    m_announced = m_options.faults.Has(Fault::LargerPicture) ? m_options.size : m_source->Size();
    m_streaming = true;
    m_nextFrame = Clock::now();
    return SendStreamFormat();
}

bool SimSession::SendStreamFormat() {
    PictureSize announced = m_announced;
    if (m_options.faults.Has(Fault::AbsurdSize))
        announced = {kAbsurdSide, kAbsurdSide};
    const StreamFormatInfo format =
        StreamFormatInfo::Make(uint16_t(announced.width), uint16_t(announced.height),
                               uint8_t(m_options.fps), uint32_t(m_options.bitRate));
    const PictureSize real = m_source->Size();
    Log("stream format %u: %dx%d announced (pictures %dx%d), %d fps, %d bit/s, channel %d",
        unsigned(m_options.formatType), announced.width, announced.height, real.width, real.height,
        m_options.fps, m_options.bitRate, m_channel);
    wire::PacketBuilder packet(m_sequence++);
    packet.Add(m_options.formatType, format.bytes);
    return SendPacket(packet);
}

bool SimSession::StrikeFault() {
    const FaultSet& faults = m_options.faults;
    const unsigned long long n = m_framesSent;
    if (faults.Has(Fault::Close) && m_framesSent >= uint64_t(m_options.faultFrames)) {
        Log("closing after %llu frames (fault close)", n);
        return End("closed by fault close");
    }
    if (faults.Has(Fault::Stall) && m_framesSent >= uint64_t(m_options.faultFrames)) {
        Log("stalling after %llu frames: nothing more is sent (fault stall)", n);
        m_stalled = true;
        return true;
    }
    if (!m_faultStruck && m_framesSent == uint64_t(m_options.faultFrames)) {
        m_faultStruck = true;
        if (faults.Has(Fault::Garbage)) {
            Log("sending %d garbage bytes after %llu frames (fault garbage)",
                m_options.garbageBytes, n);
            if (!SendBytes(GarbageBytes(size_t(m_options.garbageBytes), uint32_t(m_id))))
                return false;
        }
        if (faults.Has(Fault::ShortHeader)) {
            Log("sending a packet header with length 2 after %llu frames (fault short-header)", n);
            if (!SendBytes(ShortHeaderPacket(m_sequence++)))
                return false;
        }
        if (faults.Has(Fault::LongPacket)) {
            Log("sending a %zu-byte packet after %llu frames (fault long-packet)", kLongPacketBytes,
                n);
            if (!SendBytes(LongPacket(m_sequence++)))
                return false;
        }
    }
    const uint64_t period = uint64_t(std::max(1, m_options.faultFrames));
    if (faults.Has(Fault::Resize) && m_framesSent > 0 && m_framesSent % period == 0) {
        m_resized = !m_resized;
        const PictureSize size = m_resized ? m_options.EffectiveFaultSize() : m_options.size;
        std::string error;
        if (!m_source->Resize(size, error))
            return End("resize: " + error);
        Log("resizing to %dx%d after %llu frames (fault resize)", size.width, size.height, n);
        m_announced = size;
        return SendStreamFormat();
    }
    if (faults.Has(Fault::SwitchCodec) && m_framesSent > 0 && m_framesSent % period == 0) {
        std::string error;
        if (!m_source->SwitchCodec(error))
            return End("switch-codec: " + error);
        Log("switching codec after %llu frames (fault switch-codec)", n);
    }
    return true;
}

bool SimSession::SendNextFrame() {
    if (!m_options.faults.Empty() &&
        (m_options.faultChannel < 0 || m_options.faultChannel == m_channel)) {
        if (!StrikeFault())
            return false;
        if (m_stalled)
            return true;
    }
    EncodedFrame frame;
    std::string error;
    if (!m_source->NextFrame(frame, error))
        return End("video: " + error);
    if (frame.bytes.empty())
        return true;  // the encoder held the picture back
    if (frame.bytes.size() > kMaxRecordPayload) {
        m_context.stats.oversizeFrames.fetch_add(1);
        Log("frame of %zu bytes does not fit a record: not sent, next frame a key frame",
            frame.bytes.size());
        m_source->RequestKeyFrame();
        return true;
    }
    uint16_t type = frame.key ? m_options.keyType : m_options.frameType;
    if (!frame.key && type == 0) {
        type = m_variant == ProtocolVariant::Current ? wire::kVideoFrameInfoEx : wire::kVideoFrame;
    }
    wire::PacketBuilder packet(m_sequence++);
    packet.Add(type, frame.bytes);
    if (!SendPacket(packet))
        return false;
    if (m_framesSent == 0) {
        Log("first video frame: type %u, %zu bytes", unsigned(type), frame.bytes.size());
    }
    ++m_framesSent;
    m_context.stats.NoteFrame(frame.bytes.size(), frame.key);
    return true;
}

bool SimSession::HandlePtz(const ViewerRecord& record) {
    if (record.payload.size() < 8) {
        Log("ptz record of %zu bytes: too short, ignored", record.payload.size());
        return true;
    }
    m_context.stats.ptzCommands.fetch_add(1);
    const int channelByte = record.payload[4];
    const uint8_t code = record.payload[5];
    if (!m_streaming) {
        Log("ptz: channel byte %d, command %s (%u) before a login: ignored", channelByte,
            PtzCommandName(code), unsigned(code));
        return true;
    }
    // The current dialect counts channels from 1 here, the legacy one from 0.
    const int channel = m_variant == ProtocolVariant::Current ? channelByte - 1 : channelByte;
    PtzState* ptz = m_source->Ptz();
    const char* effect = "";
    if (channel != m_channel) {
        effect = ": not the channel streamed, ignored";
    } else if (ptz == nullptr) {
        effect = ": a recorded clip cannot move";
    } else if (!ptz->Command(code)) {
        effect = ": unknown command, ignored";
    }
    Log("ptz: channel %d, command %s (%u)%s", channel, PtzCommandName(code), unsigned(code),
        effect);
    if (m_stalled)
        return true;
    wire::PacketBuilder answer(m_sequence++);
    answer.Add(wire::kControlAnswer, ResultPayload(1));
    return SendPacket(answer);
}

bool SimSession::HandleChannel(const ViewerRecord& record) {
    if (record.payload.size() < 8) {
        Log("channel record of %zu bytes: too short, ignored", record.payload.size());
        return true;
    }
    const int left = record.payload[4];
    const int wanted = record.payload[5];
    if (!m_streaming) {
        Log("channel switch %d -> %d before a login: ignored", left, wanted);
        return true;
    }
    const bool offered = wanted < m_options.channels;
    if (!m_stalled) {
        wire::PacketBuilder answer(m_sequence++);
        answer.Add(wire::kChannelAnswer, ResultPayload(offered ? 1 : 0));
        if (!SendPacket(answer))
            return false;
    }
    if (!offered) {
        Log("channel switch %d -> %d refused: %d channels", left, wanted, m_options.channels);
        return true;
    }
    Log("channel switch %d -> %d", left, wanted);
    m_context.stats.channelSwitches.fetch_add(1);
    m_channel = wanted;
    m_source->SetChannel(wanted);
    if (m_stalled)
        return true;
    m_nextFrame = Clock::now();  // the new channel's key frame follows its format at once
    return SendStreamFormat();
}

bool SimSession::SendPacket(wire::PacketBuilder& packet) {
    return SendBytes(packet.Bytes());
}

bool SimSession::SendBytes(std::span<const uint8_t> bytes) {
    switch (m_socket.Send(bytes)) {
        case SessionSocket::SendResult::Sent:
            return true;
        case SessionSocket::SendResult::Stop:
            return End("server stopping");
        case SessionSocket::SendResult::Failed:
            break;
    }
    return End("viewer gone or not reading (send failed)");
}

}  // namespace kavrel::sim
