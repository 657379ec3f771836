// Splitting byte streams and telling the codec from the parameter sets.

#include "record/AnnexB.h"

#include <gtest/gtest.h>

namespace kavrel::record {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(AnnexBTest, SplitsAtThreeAndFourByteStartCodes) {
    struct Case {
        const char* name;
        Bytes frame;
        std::vector<Bytes> units;  // empty: not a byte stream
    };
    const Case cases[] = {
        {"four then three", {0, 0, 0, 1, 0x67, 1, 2, 0, 0, 1, 0x68, 3}, {{0x67, 1, 2}, {0x68, 3}}},
        {"trailing zeros dropped",
         {0, 0, 1, 0x65, 9, 0, 0, 0, 0, 1, 0x41, 7},
         {{0x65, 9}, {0x41, 7}}},
        {"zero inside a unit kept", {0, 0, 1, 0x65, 0, 3, 1}, {{0x65, 0, 3, 1}}},
        {"no start code", {0x65, 1, 2}, {}},
        {"start code alone", {0, 0, 1}, {}},
        {"empty unit between", {0, 0, 1, 0x65, 0, 0, 1, 0, 0, 1, 0x41}, {}},
        {"forbidden bit", {0, 0, 1, 0x85, 1}, {}},
        {"nothing", {}, {}},
    };
    for (const Case& c : cases) {
        const auto units = SplitAnnexB(c.frame, VideoCodec::kH264);
        ASSERT_EQ(units.size(), c.units.size()) << c.name;
        for (size_t i = 0; i < units.size(); ++i)
            EXPECT_EQ(Bytes(units[i].bytes.begin(), units[i].bytes.end()), c.units[i]) << c.name;
    }
}

TEST(AnnexBTest, CodecComesFromTheParameterSets) {
    // H.264: SPS 0x67, PPS 0x68, IDR 0x65. H.265: VPS 0x40 01, SPS 0x42 01,
    // PPS 0x44 01, IDR 0x26 01.
    const Bytes h264 = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE, 0, 0, 1, 0x65, 0x88};
    const Bytes h265 = {0, 0, 0, 1, 0x40, 1, 0x0C, 0, 0, 0, 1,    0x42, 1,   1,
                        0, 0, 0, 1, 0x44, 1, 0xC1, 0, 0, 1, 0x26, 1,    0xAF};
    const Bytes slice = {0, 0, 1, 0x41, 0x9A};
    EXPECT_EQ(DetectCodec(h264.data(), h264.size()), VideoCodec::kH264);
    EXPECT_EQ(DetectCodec(h265.data(), h265.size()), VideoCodec::kH265);
    EXPECT_EQ(DetectCodec(slice.data(), slice.size()), VideoCodec::kUnknown);

    EXPECT_EQ(ParameterSets(h264, VideoCodec::kH264),
              (Bytes{0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE}));
    EXPECT_EQ(
        ParameterSets(h265, VideoCodec::kH265),
        (Bytes{0, 0, 0, 1, 0x40, 1, 0x0C, 0, 0, 0, 1, 0x42, 1, 1, 0, 0, 0, 1, 0x44, 1, 0xC1}));
    EXPECT_TRUE(ParameterSets(slice, VideoCodec::kH264).empty());
}

}  // namespace
}  // namespace kavrel::record
