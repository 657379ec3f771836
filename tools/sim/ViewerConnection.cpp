#include "tools/sim/ViewerConnection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "protocol/WireFormat.h"

namespace kavrel::sim {

SessionSocket::SessionSocket(int fd, int stopFd, bool oneByteWrites, SimStats& stats)
    : m_fd(fd), m_stopFd(stopFd), m_oneByteWrites(oneByteWrites), m_stats(stats) {}

SessionSocket::~SessionSocket() {
    ::close(m_fd);
}

SessionSocket::Wait SessionSocket::WaitReadable(std::chrono::milliseconds timeout) {
    pollfd polls[2] = {{m_fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
    const int rc = ::poll(polls, 2, timeout.count() < 0 ? -1 : int(timeout.count()));
    if (rc < 0)
        return errno == EINTR ? Wait::Timeout : Wait::Error;
    if (polls[1].revents != 0)
        return Wait::Stop;
    if (polls[0].revents != 0)
        return Wait::Readable;  // data, end of stream or an error: Read tells
    return Wait::Timeout;
}

ssize_t SessionSocket::Read(uint8_t* buffer, size_t capacity) {
    while (true) {
        const ssize_t n = ::recv(m_fd, buffer, capacity, MSG_DONTWAIT);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return -2;  // woken without data: not an end
        return -1;
    }
}

SessionSocket::SendResult SessionSocket::Send(std::span<const uint8_t> bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const size_t chunk = m_oneByteWrites ? 1 : bytes.size() - sent;
        const ssize_t n = ::send(m_fd, bytes.data() + sent, chunk, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += size_t(n);
            m_stats.bytes.fetch_add(uint64_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return SendResult::Failed;
        // The viewer's window is full: wait for room, for the stop, or give up.
        pollfd polls[2] = {{m_fd, POLLOUT, 0}, {m_stopFd, POLLIN, 0}};
        const int rc = ::poll(polls, 2, int(std::chrono::milliseconds(kWriteStallLimit).count()));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            return SendResult::Failed;
        if (polls[1].revents != 0)
            return SendResult::Stop;
        if (polls[0].revents & (POLLERR | POLLHUP))
            return SendResult::Failed;
    }
    return SendResult::Sent;
}

void ViewerPacketReader::Append(const uint8_t* bytes, size_t count) {
    m_buffer.insert(m_buffer.end(), bytes, bytes + count);
}

ViewerPacketReader::Result ViewerPacketReader::Next(std::vector<ViewerRecord>& records,
                                                    std::string& why) {
    records.clear();
    if (m_buffer.size() < wire::kPacketHeaderSize)
        return Result::NeedMore;
    const wire::PacketHeader header = wire::ReadPacketHeader(m_buffer.data());
    if (header.length < 4 || size_t(header.length) + 4 > kMaxPacket) {
        why = "packet length " + std::to_string(header.length) + " outside 4.." +
              std::to_string(kMaxPacket - 4);
        return Result::Malformed;
    }
    const size_t packetSize = size_t(header.length) + 4;
    if (m_buffer.size() < packetSize)
        return Result::NeedMore;
    size_t at = wire::kPacketHeaderSize;
    while (at + wire::kTlvHeaderSize <= packetSize) {
        const wire::TlvHeader tlv = wire::ReadTlvHeader(m_buffer.data() + at);
        const size_t begin = at + wire::kTlvHeaderSize;
        const size_t end = std::min(packetSize, begin + tlv.length);
        records.push_back({tlv.type, std::vector<uint8_t>(m_buffer.begin() + long(begin),
                                                          m_buffer.begin() + long(end))});
        at = begin + tlv.length;
    }
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + long(packetSize));
    return Result::Packet;
}

}  // namespace kavrel::sim
