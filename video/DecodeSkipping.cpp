#include "video/DecodeSkipping.h"

#include <algorithm>
#include <cstdint>

namespace kavrel {

bool ShownAtHalfOrLess(PictureSize shown, bool turned, const ViewRect& part, int decodedWidth,
                       int decodedHeight) {
    if (shown.width <= 0 || shown.height <= 0 || decodedWidth <= 0 || decodedHeight <= 0)
        return false;
    const PictureSize upright = ShownSize(shown.width, shown.height, turned);
    const ViewRect clamped = part.Clamped();
    // Source pixels the shown part covers, in units of 1/kViewUnit pixel.
    const int64_t sourceWidth = int64_t(clamped.width) * decodedWidth;
    const int64_t sourceHeight = int64_t(clamped.height) * decodedHeight;
    return int64_t(2) * upright.width * kViewUnit <= sourceWidth &&
           int64_t(2) * upright.height * kViewUnit <= sourceHeight;
}

BacklogGuard::BacklogGuard(const SkipOptions& options)
    : m_options(options), m_hold(options.firstHold) {}

bool BacklogGuard::AfterPolicy(Clock::time_point now, const DropPolicyResult& policy) {
    if (m_keyFramesOnly || !m_options.keyFramesWhenBehind)
        return false;
    if (!policy.ran) {
        m_stuck = false;
    } else if (!m_stuck) {
        m_stuck = true;
        m_stuckSince = now;
    }
    constexpr int kKept = kKeptDrops;
    if (policy.dropped > 0) {
        if (m_dropCount == kKept) {
            std::move(m_drops + 1, m_drops + kKept, m_drops);
            --m_dropCount;
        }
        m_drops[m_dropCount++] = now;
    }
    const int needed = std::clamp(m_options.dropsToEnter, 1, kKept);
    const bool dropping =
        m_dropCount >= needed && now - m_drops[m_dropCount - needed] <= m_options.dropWindow;
    const bool stuck = m_stuck && now - m_stuckSince >= m_options.stuckToEnter;
    if (!dropping && !stuck)
        return false;

    // A relapse soon after resuming means the machine still cannot keep up:
    // trying again later keeps the tile from switching back and forth.
    if (m_everResumed && now - m_resumed <= m_options.relapseWindow)
        m_hold = std::min(m_hold * 2, std::max(m_options.maxHold, m_options.firstHold));
    else
        m_hold = m_options.firstHold;
    m_keyFramesOnly = true;
    m_entered = now;
    m_dropCount = 0;
    m_stuck = false;
    return true;
}

bool BacklogGuard::AtKeyFrame(Clock::time_point now, size_t queued) {
    if (!m_keyFramesOnly || now - m_entered < m_hold || queued > m_options.calmQueue)
        return false;
    m_keyFramesOnly = false;
    m_resumed = now;
    m_everResumed = true;
    return true;
}

}  // namespace kavrel
