#pragma once
// Encoded frames waiting for the decode thread, and the drop policy that
// bounds the delay when decoding falls behind.
//
// The queue itself has no lock: VideoPipeline guards it with its queue mutex.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

namespace kavrel {

// Zeroed bytes kept behind every payload (libavcodec's input padding), not
// counted in `length`.
inline constexpr size_t kFramePadding = 64;

// One received frame's bytes, allocated once and never written after: the
// decode queue and the recording hold the same buffer. Any thread may keep,
// read or release it (the count is atomic, the bytes immutable).
struct SharedFrameBytes {
    std::shared_ptr<const uint8_t[]> data;  // size bytes, then kFramePadding zero bytes
    size_t size = 0;                        // 0 (and no data) for an empty frame

    std::span<const uint8_t> Span() const { return {data.get(), size}; }
};

// Copies exactly `length` bytes from `bytes` (nothing behind them is read)
// and the padding, in one allocation with the buffer's count. A negative
// length, no bytes or no memory give an empty frame.
SharedFrameBytes CopyFrameBytes(const uint8_t* bytes, int length);

// One encoded frame: owned by the queue until the decode thread takes it,
// then by the decode thread until it is released. Its bytes may be shared
// with the recording.
struct CFrame {
    std::shared_ptr<const uint8_t[]> bytes;  // length payload bytes, then kFramePadding zero bytes
    int32_t length = 0;                      // payload bytes; 0 when there are no bytes
    uint8_t keyFrame = 0;                    // 1 when the server marked it as a key frame
    std::chrono::steady_clock::time_point arrival;  // when it was received
};

// Copies exactly `length` bytes from `bytes` (nothing behind them is read).
// A negative length or no bytes give an empty frame; so does a failed
// allocation of the copy. Returns null only when the record itself cannot be
// allocated.
std::unique_ptr<CFrame> MakeFrame(const uint8_t* bytes, int length, int keyFrame);
// The same around bytes copied already: no second copy.
std::unique_ptr<CFrame> MakeFrame(SharedFrameBytes bytes, int keyFrame);

using FrameQueue = std::deque<std::unique_ptr<CFrame>>;

struct DropPolicyResult {
    bool ran = false;  // the queue held 20 frames or more (the "Drop frame" debug line is due)
    int dropped = 0;   // frames removed from the head and released
};

inline constexpr size_t kDropPolicyThreshold = 20;

// Runs before every take from a non-empty queue:
//  1. fewer than 20 frames: nothing happens;
//  2. otherwise count the key frames K among all of them;
//  3. K = 0: nothing is dropped;
//  4. drop from the head while the head is not a key frame;
//  5. if more than 20 frames remain and K >= 2: drop the head (that key
//     frame) and then every frame up to the next key frame.
// So at most one key-frame-to-key-frame run is skipped per pass. Dropped
// frames are moved to `dropped` when given (so that the caller can release
// them outside its lock), else released here.
DropPolicyResult ApplyDropPolicy(FrameQueue& queue,
                                 std::vector<std::unique_ptr<CFrame>>* dropped = nullptr);

}  // namespace kavrel
