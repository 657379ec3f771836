#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/ReturnableHeap.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace kavrel {
namespace {

// Through a volatile pointer, so that no allocation is optimised away.
void* volatile g_block = nullptr;

TEST(ReturnableHeapTest, ABlockOverTheThresholdIsMappedAfterALargerOneWasFreed) {
#if !defined(__GLIBC__) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "glibc's own allocator only";
#else
    KeepLargeBlocksReturnable();
    // Freeing a mapped 4 MiB block raises glibc's dynamic threshold to 4 MiB.
    g_block = std::malloc(4 << 20);
    std::free(g_block);
    const size_t mappedBefore = mallinfo2().hblkhd;
    g_block = std::malloc(256 * 1024);
    const size_t mappedAfter = mallinfo2().hblkhd;
    std::free(g_block);
    // In a mapping of its own, so its pages go back to the system when freed.
    EXPECT_GE(mappedAfter - mappedBefore, size_t(256 * 1024));
#endif
}

}  // namespace
}  // namespace kavrel
