#include "platform/ReturnableHeap.h"

#include <atomic>
#include <chrono>
#include <cstdlib>  // says whether glibc is the C library (__GLIBC__)

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace kavrel {

void KeepLargeBlocksReturnable() {
#if defined(__GLIBC__)
    // glibc raises its mapping threshold to the size of each mapped block that
    // is freed, so after the first reconnection the next decoder's picture
    // buffers come from the arenas, and the arenas keep those pages when the
    // decoder goes. A fixed threshold (glibc's own starting value) keeps every
    // block of 128 KiB or more in a mapping of its own, unmapped when freed.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

void ReturnFreedMemory() {
#if defined(__GLIBC__)
    static std::atomic<int64_t> lastWalk{INT64_MIN / 2};
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    int64_t last = lastWalk.load(std::memory_order_relaxed);
    if (now - last < 1000 || !lastWalk.compare_exchange_strong(last, now))
        return;
    malloc_trim(0);
#endif
}

}  // namespace kavrel
