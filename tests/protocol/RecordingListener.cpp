#include "tests/protocol/RecordingListener.h"

#include <cstdio>

namespace kavrel::test {

uint32_t Fnv1a(const uint8_t* bytes, size_t length) {
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < length; ++i)
        hash = (hash ^ bytes[i]) * 16777619u;
    return hash;
}

std::vector<std::string> RecordingListener::Lines() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
}

size_t RecordingListener::Count() const {
    std::lock_guard lock(m_mutex);
    return m_lines.size();
}

bool RecordingListener::WaitForCount(size_t count, std::chrono::milliseconds wait) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, wait, [&] { return m_lines.size() >= count; });
}

void RecordingListener::Record(std::string line) {
    if (m_forbidden.load())
        m_late.fetch_add(1);
    {
        std::lock_guard lock(m_mutex);
        m_lines.push_back(std::move(line));
    }
    m_changed.notify_all();
}

void RecordingListener::OnServerEvent(int code) {
    Record("event " + std::to_string(code));
    if (onEvent)
        onEvent(code);
}

void RecordingListener::OnDvsInfo(DvsInfo info) {
    Record("dvs channels=" + std::to_string(info.ChannelCount()));
}

void RecordingListener::OnStreamFormat(StreamFormatInfo info) {
    char line[96];
    std::snprintf(line, sizeof line, "format %ux%u fps=%u rate=%u", unsigned(info.Width()),
                  unsigned(info.Height()), unsigned(info.FramesPerSecond()), info.BitRate());
    Record(line);
}

void RecordingListener::OnVideoData(int tag, const uint8_t* bytes, int length, int extra1,
                                    int extra2, int keyFrame) {
    char line[128];
    std::snprintf(line, sizeof line, "video key=%d len=%d fnv=%08x", keyFrame, length,
                  unsigned(Fnv1a(bytes, size_t(length))));
    std::string text = line;
    if (tag != 0 || extra1 != 0 || extra2 != 0)
        text += " (tag/extra not 0)";
    Record(std::move(text));
    if (onVideo)
        onVideo();
}

}  // namespace kavrel::test
