#include "tests/tools/SimTestClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kavrel::test {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    return int(std::max<int64_t>(0, left.count()));
}

}  // namespace

const WireRecord* WirePacket::Find(uint16_t type) const {
    for (const WireRecord& r : records) {
        if (r.type == type)
            return &r;
    }
    return nullptr;
}

SimTestClient::~SimTestClient() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SimTestClient::Connect(uint16_t port) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return m_fd >= 0 &&
           ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool SimTestClient::Send(std::span<const uint8_t> bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += size_t(n);
    }
    return true;
}

bool SimTestClient::SendLogin(std::string_view user, std::string_view password, int channel,
                              ProtocolVariant variant) {
    uint8_t packet[wire::kMaxSentPacket];
    const size_t size =
        wire::BuildLoginPacket(packet, m_sequence++, user, password, channel, variant);
    return Send({packet, size});
}

bool SimTestClient::SendPtz(int channel, uint8_t code, ProtocolVariant variant) {
    uint8_t packet[wire::kMaxSentPacket];
    const size_t size = wire::BuildPtzPacket(packet, m_sequence++, channel, code, variant);
    return Send({packet, size});
}

bool SimTestClient::SendChannel(int left, int wanted) {
    uint8_t packet[wire::kMaxSentPacket];
    const size_t size = wire::BuildChannelPacket(packet, m_sequence++, left, wanted);
    return Send({packet, size});
}

bool SimTestClient::ReadExact(size_t count, std::vector<uint8_t>& out,
                              std::chrono::milliseconds deadline) {
    const auto end = Clock::now() + deadline;
    out.resize(count);
    size_t got = 0;
    while (got < count) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, MillisecondsLeft(end)) <= 0)
            return false;
        const ssize_t n = ::recv(m_fd, out.data() + got, count - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += size_t(n);
    }
    return true;
}

bool SimTestClient::ReadPacket(WirePacket& out, std::chrono::milliseconds deadline) {
    const auto end = Clock::now() + deadline;
    std::vector<uint8_t> header;
    if (!ReadExact(wire::kPacketHeaderSize, header, deadline))
        return false;
    const wire::PacketHeader h = wire::ReadPacketHeader(header.data());
    out = WirePacket{h.length, h.sequence, {}};
    if (h.length < 4)
        return false;
    std::vector<uint8_t> body;
    if (!ReadExact(h.length - 4, body, std::chrono::milliseconds(MillisecondsLeft(end)))) {
        return false;
    }
    size_t at = 0;
    while (at + wire::kTlvHeaderSize <= body.size()) {
        const wire::TlvHeader tlv = wire::ReadTlvHeader(body.data() + at);
        const size_t begin = at + wire::kTlvHeaderSize;
        const size_t stop = std::min(body.size(), begin + tlv.length);
        out.records.push_back({tlv.type, std::vector<uint8_t>(body.begin() + long(begin),
                                                              body.begin() + long(stop))});
        at = begin + tlv.length;
    }
    return true;
}

bool SimTestClient::ReadVideoPacket(WirePacket& out, std::vector<StreamFormatInfo>* formats,
                                    std::chrono::milliseconds deadline) {
    const auto end = Clock::now() + deadline;
    while (ReadPacket(out, std::chrono::milliseconds(MillisecondsLeft(end)))) {
        bool video = false;
        for (const WireRecord& r : out.records) {
            if (formats != nullptr && wire::IsStreamFormatType(r.type) && r.payload.size() >= 40) {
                StreamFormatInfo info;
                std::copy_n(r.payload.begin(), 40, info.bytes.begin());
                formats->push_back(info);
            }
            video = video || IsVideoType(r.type);
        }
        if (video)
            return true;
    }
    return false;
}

bool SimTestClient::WaitClosed(std::chrono::milliseconds deadline) {
    const auto end = Clock::now() + deadline;
    uint8_t buffer[65536];
    while (true) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, MillisecondsLeft(end)) <= 0)
            return false;
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n == 0)
            return true;
        if (n < 0 && errno != EINTR)
            return errno == ECONNRESET;
    }
}

bool SimTestClient::NothingPending() {
    uint8_t byte;
    const ssize_t n = ::recv(m_fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

}  // namespace kavrel::test
