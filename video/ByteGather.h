#pragma once
// Picking the bytes a shrunk row samples out of a source row, many at a time.
//
// A target row shrunk to less than half reads a handful of bytes out of every
// few dozen, at the same columns in every row of the picture. The columns are
// known once per picture, so sixteen neighbouring target columns are planned
// as a few 16-byte loads from one offset and a byte shuffle of each: a row
// then costs a few vector instructions per sixteen pixels instead of a load,
// an index and a store per pixel.

#include <cstdint>
#include <vector>

namespace kavrel {

// The plan of one kind of row (luma or chroma) for one set of target columns.
// Made by MakeByteGatherPlan, read by GatherBytes; owned by the converting
// thread's scratch.
struct ByteGatherPlan {
    // The most 16-byte loads one group of sixteen columns may take; wider
    // shrinks keep to the per-byte loop.
    static constexpr int kMaxBlocks = 8;
    int blocks = 0;             // loads per group; 0 when no group is planned
    int groups = 0;             // whole groups of sixteen target columns
    std::vector<int32_t> at;    // per target column: its offset in the row
    std::vector<int32_t> base;  // per group: where its first load starts
    // Per group, `blocks` times 16 shuffle controls: control i of block k
    // names the byte of load k that column i takes, or has its top bit set
    // when column i takes its byte from another load.
    std::vector<uint8_t> masks;
};

// Plans `count` target columns reading offsets `at` (each in 0 to
// rowLength - 1) of rows `rowLength` bytes long. No load ever reaches
// outside [0, rowLength), so the last row of a plane with no padding is safe.
void MakeByteGatherPlan(const int32_t* at, int count, int rowLength, ByteGatherPlan& plan);

// out[i] = row[plan.at[i]] for every planned column: the planned groups with
// byte shuffles where the processor has AVX2, the rest one by one.
void GatherBytes(const uint8_t* row, const ByteGatherPlan& plan, uint8_t* out);
void GatherBytesAvx2(const uint8_t* row, const ByteGatherPlan& plan, uint8_t* out);

}  // namespace kavrel
