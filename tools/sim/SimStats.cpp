#include "tools/sim/SimStats.h"

#include <cstdio>

namespace kavrel::sim {
namespace {

void RaiseTo(std::atomic<uint64_t>& maximum, uint64_t value) {
    uint64_t seen = maximum.load();
    while (value > seen && !maximum.compare_exchange_weak(seen, value)) {
    }
}

}  // namespace

void SimStats::NoteFrame(size_t size, bool key) {
    frames.fetch_add(1);
    frameBytes.fetch_add(size);
    RaiseTo(m_largestFrame, size);
    if (key) {
        keyFrames.fetch_add(1);
        RaiseTo(m_largestKeyFrame, size);
    }
}

std::string SimStats::Summary() const {
    const uint64_t frameCount = frames.load();
    char text[512];
    std::snprintf(text, sizeof text,
                  "summary: connections=%llu logins=%llu refused=%llu frames=%llu key_frames=%llu "
                  "bytes=%llu ptz=%llu channel_switches=%llu oversize_frames=%llu "
                  "mean_frame=%llu largest_frame=%llu largest_key_frame=%llu",
                  (unsigned long long)connections.load(), (unsigned long long)loginsAccepted.load(),
                  (unsigned long long)loginsRefused.load(), (unsigned long long)frameCount,
                  (unsigned long long)keyFrames.load(), (unsigned long long)bytes.load(),
                  (unsigned long long)ptzCommands.load(),
                  (unsigned long long)channelSwitches.load(),
                  (unsigned long long)oversizeFrames.load(),
                  (unsigned long long)(frameCount ? frameBytes.load() / frameCount : 0),
                  (unsigned long long)LargestFrame(), (unsigned long long)LargestKeyFrame());
    return text;
}

}  // namespace kavrel::sim
