#pragma once
// What a tile's decoder may leave out when nobody would see it, or when
// decoding cannot keep up with the stream.
//
//  - The loop filter smooths block edges; a picture shown at half its
//    decoded size or less (in both directions, counting only the part a
//    digital zoom shows) loses those edges in the down-sampling anyway, so
//    the filter is skipped there. Decoding stays exact for larger tiles.
//  - A tile whose decoding falls behind (the drop policy keeps firing)
//    decodes key frames only, so every tile still shows a picture each GOP
//    on an overloaded machine, until it has kept up again. BacklogGuard holds
//    that decision with hysteresis: it stays at least a hold time, and the
//    hold doubles when it relapses soon after leaving.
//
// No lock inside: the decode thread owns a BacklogGuard.

#include <chrono>
#include <cstddef>

#include "video/FrameQueue.h"
#include "video/SampledConversion.h"

namespace kavrel {

// True when a picture of decodedWidth x decodedHeight, of which `part` is
// shown in an area of `shown` pixels (turned: `shown` is in screen
// orientation, the picture a quarter turn round), is shown at half its
// decoded size or smaller in both directions.
bool ShownAtHalfOrLess(PictureSize shown, bool turned, const ViewRect& part, int decodedWidth,
                       int decodedHeight);

struct SkipOptions {
    // Skip the loop filter for pictures shown at half size or less.
    bool loopFilterWhenSmall = true;
    // Enter key-frames-only decoding when decoding falls behind.
    bool keyFramesWhenBehind = true;
    // Behind: the drop policy dropped frames `dropsToEnter` times within
    // `dropWindow`, or found the queue at its threshold at every take for
    // `stuckToEnter` (a backlog with no key frame to cut back to).
    int dropsToEnter = 2;
    std::chrono::milliseconds dropWindow{5000};
    std::chrono::milliseconds stuckToEnter{1000};
    // Key frames only for at least the hold; full decoding resumes at the
    // first key frame after it that finds the queue short. A relapse within
    // `relapseWindow` of resuming doubles the hold, up to `maxHold`.
    std::chrono::milliseconds firstHold{2000};
    std::chrono::milliseconds maxHold{32000};
    std::chrono::milliseconds relapseWindow{10000};
    // "Short": at most this many frames left behind the key frame taken.
    size_t calmQueue = 4;
};

class BacklogGuard {
  public:
    using Clock = std::chrono::steady_clock;

    explicit BacklogGuard(const SkipOptions& options = {});

    // After each drop-policy pass in full decoding. True when the tile has
    // fallen behind by this take and now decodes key frames only.
    bool AfterPolicy(Clock::time_point now, const DropPolicyResult& policy);
    // At each key frame taken in key-frames-only decoding, with `queued`
    // frames still waiting. True when full decoding resumes with this frame.
    bool AtKeyFrame(Clock::time_point now, size_t queued);

    bool KeyFramesOnly() const { return m_keyFramesOnly; }
    std::chrono::milliseconds Hold() const { return m_hold; }

  private:
    SkipOptions m_options;
    bool m_keyFramesOnly = false;
    std::chrono::milliseconds m_hold;
    Clock::time_point m_entered{};
    Clock::time_point m_resumed{};
    bool m_everResumed = false;
    // The times of the recent drops that lost frames, oldest first.
    static constexpr int kKeptDrops = 8;
    Clock::time_point m_drops[kKeptDrops]{};
    int m_dropCount = 0;
    bool m_stuck = false;  // the policy ran at every take since m_stuckSince
    Clock::time_point m_stuckSince{};
};

}  // namespace kavrel
