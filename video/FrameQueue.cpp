#include "video/FrameQueue.h"

#include <algorithm>
#include <cstring>
#include <new>

extern "C" {
#include <libavcodec/defs.h>
}

namespace kavrel {

static_assert(kFramePadding == AV_INPUT_BUFFER_PADDING_SIZE,
              "frames carry the padding libavcodec expects behind its input");

SharedFrameBytes CopyFrameBytes(const uint8_t* bytes, int length) {
    if (bytes == nullptr || length <= 0)
        return {};
    std::shared_ptr<uint8_t[]> copy;
    try {
        // Not zeroed first: every byte is written here.
        copy = std::make_shared_for_overwrite<uint8_t[]>(size_t(length) + kFramePadding);
    } catch (const std::bad_alloc&) {
        return {};
    }
    std::memcpy(copy.get(), bytes, size_t(length));
    std::memset(copy.get() + length, 0, kFramePadding);
    return SharedFrameBytes{std::move(copy), size_t(length)};
}

std::unique_ptr<CFrame> MakeFrame(const uint8_t* bytes, int length, int keyFrame) {
    return MakeFrame(CopyFrameBytes(bytes, length), keyFrame);
}

std::unique_ptr<CFrame> MakeFrame(SharedFrameBytes bytes, int keyFrame) {
    std::unique_ptr<CFrame> frame(new (std::nothrow) CFrame);
    if (!frame)
        return nullptr;
    frame->keyFrame = keyFrame != 0 ? 1 : 0;
    if (!bytes.data)
        return frame;  // queued empty: it will fail to decode
    frame->bytes = std::move(bytes.data);
    frame->length = int32_t(bytes.size);
    return frame;
}

DropPolicyResult ApplyDropPolicy(FrameQueue& queue, std::vector<std::unique_ptr<CFrame>>* dropped) {
    DropPolicyResult result;
    if (queue.size() < kDropPolicyThreshold)
        return result;
    result.ran = true;

    const auto keyFrames = std::count_if(queue.begin(), queue.end(),
                                         [](const auto& frame) { return frame->keyFrame != 0; });
    if (keyFrames == 0)
        return result;

    auto dropHead = [&] {
        if (dropped != nullptr)
            dropped->push_back(std::move(queue.front()));
        queue.pop_front();
        ++result.dropped;
    };
    auto dropWhileNotKey = [&] {
        while (!queue.empty() && queue.front()->keyFrame == 0)
            dropHead();
    };
    dropWhileNotKey();
    if (queue.size() > kDropPolicyThreshold && keyFrames >= 2) {
        dropHead();
        dropWhileNotKey();
    }
    return result;
}

}  // namespace kavrel
