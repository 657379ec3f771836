#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/ReturnableHeap.h"
#include "tests/reliability/ResidentMemory.h"

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

// As a decoder's thread leaves them: small blocks freed below one still held,
// in a thread's own arena, so the arena's top cannot shrink by itself.
TEST(ReturnableHeapTest, FreedSmallBlocksBelowAHeldOneGoBackToTheSystem) {
#if !defined(__GLIBC__) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "glibc's own allocator only";
#else
    constexpr int kBlocks = 8192;  // 32 MiB of 4 KiB blocks
    std::vector<void*> blocks;
    void* held = nullptr;
    std::thread([&] {
        for (int i = 0; i < kBlocks; ++i) {
            blocks.push_back(std::malloc(4096));
            std::memset(blocks.back(), 1, 4096);
        }
        held = std::malloc(4096);
        for (void* block : blocks)
            std::free(block);
    }).join();
    const int64_t before = test::ResidentMemoryKb();
    ReturnFreedMemory();
    const int64_t after = test::ResidentMemoryKb();
    std::free(held);
    EXPECT_GE(before - after, 16 * 1024) << "resident " << before << " KiB, then " << after;
#endif
}

}  // namespace
}  // namespace kavrel
