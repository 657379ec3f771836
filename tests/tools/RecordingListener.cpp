#include "tests/tools/RecordingListener.h"

#include <algorithm>

namespace kavrel::test {

int CountKind(const std::vector<Callback>& calls, Callback::Kind kind) {
    return int(std::count_if(calls.begin(), calls.end(),
                             [kind](const Callback& c) { return c.kind == kind; }));
}

void RecordingListener::Add(Callback call) {
    std::lock_guard lock(m_mutex);
    m_calls.push_back(std::move(call));
    m_added.notify_all();
}

void RecordingListener::OnServerEvent(int code) {
    Callback call;
    call.code = code;
    Add(std::move(call));
}

void RecordingListener::OnDvsInfo(DvsInfo info) {
    Callback call;
    call.kind = Callback::Kind::Dvs;
    call.dvs = info;
    Add(std::move(call));
}

void RecordingListener::OnStreamFormat(StreamFormatInfo info) {
    Callback call;
    call.kind = Callback::Kind::Format;
    call.format = info;
    Add(std::move(call));
}

void RecordingListener::OnVideoData(int, const uint8_t* bytes, int length, int, int, int keyFrame) {
    Callback call;
    call.kind = Callback::Kind::Video;
    call.bytes.assign(bytes, bytes + std::max(length, 0));
    call.key = keyFrame != 0;
    Add(std::move(call));
}

std::vector<Callback> RecordingListener::Calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

bool RecordingListener::WaitUntil(const Predicate& done, std::chrono::milliseconds deadline) {
    std::unique_lock lock(m_mutex);
    return m_added.wait_for(lock, deadline, [&] { return done(m_calls); });
}

bool RecordingListener::WaitForVideo(int count, int formats, std::chrono::milliseconds deadline) {
    return WaitUntil(
        [&](const std::vector<Callback>& calls) {
            int formatsSeen = 0, frames = 0;
            for (const Callback& c : calls) {
                if (c.kind == Callback::Kind::Format)
                    ++formatsSeen;
                if (c.kind == Callback::Kind::Video && formatsSeen >= formats)
                    ++frames;
            }
            return frames >= count;
        },
        deadline);
}

}  // namespace kavrel::test
