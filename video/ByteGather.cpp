#include "video/ByteGather.h"

#include <immintrin.h>

#include <algorithm>
#include <cstddef>

#include "video/FastConversion.h"

namespace kavrel {

namespace {
constexpr int kGroup = 16;
}  // namespace

void MakeByteGatherPlan(const int32_t* at, int count, int rowLength, ByteGatherPlan& plan) {
    plan.at.assign(at, at + std::max(count, 0));
    plan.blocks = 0;
    plan.groups = 0;
    const int groups = std::max(count, 0) / kGroup;
    if (groups == 0)
        return;
    // One number of loads for every group keeps the inner loop free of
    // branches; it is set by the group that spreads widest.
    int blocks = 1;
    for (int g = 0; g < groups; ++g) {
        const auto [low, high] = std::minmax_element(at + g * kGroup, at + (g + 1) * kGroup);
        blocks = std::max(blocks, int((*high - *low) / kGroup) + 1);
    }
    if (blocks > ByteGatherPlan::kMaxBlocks || rowLength < blocks * kGroup)
        return;
    plan.base.resize(size_t(groups));
    plan.masks.assign(size_t(groups) * size_t(blocks) * kGroup, uint8_t(0x80));
    for (int g = 0; g < groups; ++g) {
        const int32_t* column = at + g * kGroup;
        // Moved left near the row's end, so that the last load stops inside
        // the row; the group's bytes all lie within blocks * 16 of it either way.
        const int32_t low = *std::min_element(column, column + kGroup);
        const int32_t base = std::max(0, std::min(low, rowLength - blocks * kGroup));
        plan.base[size_t(g)] = base;
        uint8_t* masks = plan.masks.data() + size_t(g) * size_t(blocks) * kGroup;
        for (int i = 0; i < kGroup; ++i) {
            const int32_t offset = column[i] - base;
            masks[(offset / kGroup) * kGroup + i] = uint8_t(offset % kGroup);
        }
    }
    plan.blocks = blocks;
    plan.groups = groups;
}

void GatherBytes(const uint8_t* row, const ByteGatherPlan& plan, uint8_t* out) {
    if (plan.blocks > 0 && CpuSupportsAvx2()) {
        GatherBytesAvx2(row, plan, out);
        return;
    }
    const int32_t* at = plan.at.data();
    for (size_t i = 0; i < plan.at.size(); ++i)
        out[i] = row[at[i]];
}

__attribute__((target("avx2"))) void GatherBytesAvx2(const uint8_t* row, const ByteGatherPlan& plan,
                                                     uint8_t* out) {
    const int blocks = plan.blocks;
    const uint8_t* masks = plan.masks.data();
    for (int g = 0; g < plan.groups; ++g) {
        const uint8_t* source = row + plan.base[size_t(g)];
        __m128i bytes = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(masks)));
        for (int k = 1; k < blocks; ++k) {
            const __m128i block =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + k * kGroup));
            const __m128i mask =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(masks + k * kGroup));
            bytes = _mm_or_si128(bytes, _mm_shuffle_epi8(block, mask));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + g * kGroup), bytes);
        masks += blocks * kGroup;
    }
    const int32_t* at = plan.at.data();
    for (size_t i = size_t(plan.groups) * kGroup; i < plan.at.size(); ++i)
        out[i] = row[at[i]];
}

}  // namespace kavrel
