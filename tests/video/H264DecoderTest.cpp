// The decoder wrapper against real H.264 made at run time by libx264.

#include "video/H264Decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/CraftedStreams.h"
#include "tests/support/H264TestEncoder.h"

namespace kavrel {
namespace {

using test::EncodedFrame;
using test::EncoderOptions;
using test::YuvPicture;

struct Decoded {
    DecodeStatus status = DecodeStatus::kFailed;
    int width = 0;
    int height = 0;
};

Decoded Decode(DecoderHandle& decoder, const std::vector<uint8_t>& input,
               std::vector<uint8_t>& output) {
    Decoded result;
    result.status = DecodeFrame(decoder, input.data(), int(input.size()), output.data(),
                                output.size(), &result.width, &result.height);
    return result;
}

std::vector<YuvPicture> NoisePictures(int width, int height, int count, uint32_t seed) {
    std::vector<YuvPicture> pictures;
    for (int i = 0; i < count; ++i)
        pictures.push_back(test::MakeNoisePicture(width, height, seed + i));
    return pictures;
}

TEST(PlanarLayoutTest, HalvesDropTheRemainder) {
    const PlanarLayout qcif = PlanarLayoutFor(176, 144);
    EXPECT_EQ(qcif.lumaBytes, 25344u);
    EXPECT_EQ(qcif.chromaBytes, 6336u);
    EXPECT_EQ(qcif.uOffset, 25344u);
    EXPECT_EQ(qcif.vOffset, 25344u + 6336u);
    EXPECT_EQ(qcif.totalBytes, 38016u);

    const PlanarLayout odd = PlanarLayoutFor(175, 143);
    EXPECT_EQ(odd.chromaWidth, 87);
    EXPECT_EQ(odd.chromaHeight, 71);
    EXPECT_EQ(odd.vOffset, 175u * 143u + 87u * 71u);
    EXPECT_EQ(odd.totalBytes, 175u * 143u + 2u * 87u * 71u);

    EXPECT_EQ(PlanarLayoutFor(0, 10).totalBytes, 0u);
    EXPECT_EQ(PlanarLayoutFor(1, 1).totalBytes, 1u);
}

// Lossless streams decode to exactly the planes that went in, at every size.
class LosslessDecodeTest : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(LosslessDecodeTest, DecodesToTheSourcePlanes) {
    const auto [width, height] = GetParam();
    const auto pictures = NoisePictures(width, height, 4, 11);
    EncoderOptions options;
    options.width = width;
    options.height = height;
    options.gopSize = 2;
    const auto frames = test::EncodeSequence(options, pictures);
    ASSERT_EQ(frames.size(), pictures.size());
    EXPECT_TRUE(frames[0].keyFrame);

    DecoderPtr decoder = OpenDecoder();
    ASSERT_NE(decoder, nullptr);
    for (size_t i = 0; i < frames.size(); ++i) {
        std::vector<uint8_t> output(PlanarLayoutFor(width, height).totalBytes, 0xEE);
        const Decoded result = Decode(*decoder, frames[i].bytes, output);
        ASSERT_EQ(result.status, DecodeStatus::kPicture) << "frame " << i;
        EXPECT_EQ(result.width, width);
        EXPECT_EQ(result.height, height);
        EXPECT_EQ(output, pictures[i].bytes) << "frame " << i;
    }
    CloseDecoder(decoder);
    EXPECT_EQ(decoder, nullptr);
    CloseDecoder(decoder);  // harmless on an empty handle
}

INSTANTIATE_TEST_SUITE_P(Sizes, LosslessDecodeTest,
                         testing::Values(std::make_pair(176, 144), std::make_pair(352, 288),
                                         // 174 is not a multiple of 4; 98 / 2 is odd.
                                         std::make_pair(174, 98), std::make_pair(16, 16)));

TEST(H264DecoderTest, ResolutionChangeInTheStreamGivesTheNewLayout) {
    const auto small = NoisePictures(176, 144, 2, 1);
    const auto large = NoisePictures(352, 288, 2, 2);
    EncoderOptions first;
    first.width = 176;
    first.height = 144;
    EncoderOptions second = first;
    second.width = 352;
    second.height = 288;
    auto frames = test::EncodeSequence(first, small);
    const auto more = test::EncodeSequence(second, large);
    ASSERT_EQ(frames.size(), 2u);
    ASSERT_EQ(more.size(), 2u);
    frames.insert(frames.end(), more.begin(), more.end());

    DecoderPtr decoder = OpenDecoder();
    ASSERT_NE(decoder, nullptr);
    std::vector<uint8_t> output(PlanarLayoutFor(352, 288).totalBytes);
    for (size_t i = 0; i < frames.size(); ++i) {
        const Decoded result = Decode(*decoder, frames[i].bytes, output);
        ASSERT_EQ(result.status, DecodeStatus::kPicture) << "frame " << i;
        const YuvPicture& expected = i < 2 ? small[i] : large[i - 2];
        EXPECT_EQ(result.width, expected.width);
        EXPECT_EQ(result.height, expected.height);
        EXPECT_TRUE(std::equal(expected.bytes.begin(), expected.bytes.end(), output.begin()))
            << "frame " << i;
    }
}

TEST(H264DecoderTest, EmptyInputFailsAndLeavesTheOutputUntouched) {
    DecoderPtr decoder = OpenDecoder();
    ASSERT_NE(decoder, nullptr);
    std::vector<uint8_t> output(64, 0x5A);
    int width = -1;
    int height = -1;
    const uint8_t byte = 0;
    EXPECT_EQ(DecodeFrame(*decoder, &byte, 0, output.data(), output.size(), &width, &height),
              DecodeStatus::kFailed);
    EXPECT_EQ(DecodeFrame(*decoder, nullptr, 10, output.data(), output.size(), &width, &height),
              DecodeStatus::kFailed);
    EXPECT_EQ(DecodeFrame(*decoder, &byte, -5, output.data(), output.size(), &width, &height),
              DecodeStatus::kFailed);
    EXPECT_EQ(output, std::vector<uint8_t>(64, 0x5A));
    EXPECT_EQ(width, -1);
}

TEST(H264DecoderTest, CorruptBytesFailWithoutHarmThenAKeyFrameDecodes) {
    const auto pictures = NoisePictures(176, 144, 3, 5);
    EncoderOptions options;
    options.gopSize = 1;  // every frame is a key frame
    const auto frames = test::EncodeSequence(options, pictures);
    ASSERT_EQ(frames.size(), 3u);

    DecoderPtr decoder = OpenDecoder();
    ASSERT_NE(decoder, nullptr);
    std::vector<uint8_t> output(PlanarLayoutFor(176, 144).totalBytes, 0x33);
    const std::vector<uint8_t> before = output;

    // Garbage with no start code, and a start code followed by garbage.
    std::vector<uint8_t> garbage(300);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = uint8_t(i * 37 + 11);
    EXPECT_EQ(Decode(*decoder, garbage, output).status, DecodeStatus::kFailed);
    std::vector<uint8_t> startCode = {0, 0, 0, 1, 0x65, 0xFF, 0x00, 0x13, 0x99};
    EXPECT_EQ(Decode(*decoder, startCode, output).status, DecodeStatus::kFailed);
    EXPECT_EQ(output, before);

    const Decoded result = Decode(*decoder, frames[1].bytes, output);
    ASSERT_EQ(result.status, DecodeStatus::kPicture);
    EXPECT_EQ(Decode(*decoder, frames[2].bytes, output).status, DecodeStatus::kPicture);
    EXPECT_EQ(output, pictures[2].bytes);
}

TEST(H264DecoderTest, TruncatedAndDamagedFramesStayInBounds) {
    const auto pictures = NoisePictures(176, 144, 3, 7);
    EncoderOptions options;
    options.gopSize = 1;
    const auto frames = test::EncodeSequence(options, pictures);
    ASSERT_EQ(frames.size(), 3u);
    DecoderPtr decoder = OpenDecoder();
    ASSERT_NE(decoder, nullptr);
    std::vector<uint8_t> output(PlanarLayoutFor(176, 144).totalBytes);

    // Cut short at many points, and with bytes overwritten: the library may
    // conceal a picture or fail; either way the output keeps its size and
    // (under the sanitizers) nothing is read or written out of bounds.
    const std::vector<uint8_t>& whole = frames[0].bytes;
    for (size_t cut = 1; cut < whole.size(); cut += whole.size() / 13 + 1) {
        std::vector<uint8_t> truncated(whole.begin(), whole.begin() + ptrdiff_t(cut));
        const Decoded result = Decode(*decoder, truncated, output);
        if (result.status == DecodeStatus::kPicture) {
            EXPECT_EQ(result.width, 176);
            EXPECT_EQ(result.height, 144);
        }
    }
    std::vector<uint8_t> damaged = frames[1].bytes;
    for (size_t i = 40; i < damaged.size(); i += 97)
        damaged[i] ^= 0x5A;
    Decode(*decoder, damaged, output);

    // Error concealment may leave traces in the very next picture; the one
    // after that is exact again.
    Decode(*decoder, frames[1].bytes, output);
    ASSERT_EQ(Decode(*decoder, frames[2].bytes, output).status, DecodeStatus::kPicture);
    EXPECT_EQ(output, pictures[2].bytes);
}

TEST(H264DecoderTest, TooSmallOutputIsNeverOverrunAndTheHeldPictureCanBeFetched) {
    const auto pictures = NoisePictures(352, 288, 1, 9);
    EncoderOptions options;
    options.width = 352;
    options.height = 288;
    const auto frames = test::EncodeSequence(options, pictures);
    ASSERT_EQ(frames.size(), 1u);

    DecoderPtr decoder = OpenDecoder();
    ASSERT_NE(decoder, nullptr);
    // A buffer sized for a smaller announced picture, with a guard behind it.
    const size_t small = PlanarLayoutFor(176, 144).totalBytes;
    std::vector<uint8_t> output(small + 16, 0x77);
    int width = 0;
    int height = 0;
    EXPECT_EQ(DecodeFrame(*decoder, frames[0].bytes.data(), int(frames[0].bytes.size()),
                          output.data(), small, &width, &height),
              DecodeStatus::kOutputTooSmall);
    EXPECT_EQ(width, 352);
    EXPECT_EQ(height, 288);
    EXPECT_EQ(output, std::vector<uint8_t>(small + 16, 0x77));
    EXPECT_FALSE(CopyHeldPicture(*decoder, output.data(), small));

    std::vector<uint8_t> large(PlanarLayoutFor(352, 288).totalBytes);
    ASSERT_TRUE(CopyHeldPicture(*decoder, large.data(), large.size()));
    EXPECT_EQ(large, pictures[0].bytes);
    EXPECT_FALSE(CopyHeldPicture(*decoder, large.data(), large.size()));  // taken once only
}

// A field of /proc/self/status in kB; -1 when it cannot be read.
long StatusKb(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0)
            return std::stol(line.substr(key.size() + 1));
    }
    return -1;
}

// Starts VmHWM (peak resident memory) afresh from the current resident size.
bool ResetPeakResident() {
    std::ofstream clearRefs("/proc/self/clear_refs");
    clearRefs << "5";
    clearRefs.close();
    return bool(clearRefs) && StatusKb("VmHWM") >= 0;
}

// 16000 x 16000 made the library allocate (and conceal into) about 700 MB
// before any size check saw the picture; the limit now refuses it first.
TEST(H264DecoderTest, OversizedAnnouncementIsRefusedBeforeAnythingIsAllocated) {
    DecoderPtr decoder = OpenDecoder(uint64_t(1920) * 1088);
    ASSERT_NE(decoder, nullptr);
    const std::vector<uint8_t> oversized = test::OversizedH264KeyFrame(1000, 1000);
    std::vector<uint8_t> output(PlanarLayoutFor(1920, 1088).totalBytes);

    ASSERT_TRUE(ResetPeakResident()) << "/proc/self/clear_refs cannot reset the peak";
    const long before = StatusKb("VmRSS");
    EXPECT_EQ(Decode(*decoder, oversized, output).status, DecodeStatus::kFailed);
    EXPECT_LT(StatusKb("VmHWM") - before, 16 * 1024) << "kB allocated for the refused picture";

    // The same decoder goes on with a stream within the limit.
    const auto pictures = NoisePictures(176, 144, 1, 21);
    const auto frames = test::EncodeSequence(EncoderOptions{}, pictures);
    ASSERT_EQ(frames.size(), 1u);
    const Decoded decoded = Decode(*decoder, frames[0].bytes, output);
    EXPECT_EQ(decoded.status, DecodeStatus::kPicture);
    EXPECT_EQ(decoded.width, 176);
}

// Lossless H.265 decodes to the source planes, and a stream that changes codec
// at a key frame (a recorder's setting changed) gives pictures throughout.
TEST(H264DecoderTest, FollowsTheStreamFromH264ToH265AndBack) {
    const auto pictures = NoisePictures(64, 48, 6, 31);
    std::vector<EncodedFrame> stream;
    for (const char* encoder : {"libx264", "libx265", "libx264"}) {
        EncoderOptions options;
        options.encoder = encoder;
        options.width = 64;
        options.height = 48;
        const auto part =
            test::EncodeSequence(options, {pictures[stream.size()], pictures[stream.size() + 1]});
        ASSERT_EQ(part.size(), 2u) << encoder;
        stream.insert(stream.end(), part.begin(), part.end());
    }
    DecoderPtr decoder = OpenDecoder();
    ASSERT_NE(decoder, nullptr);
    std::vector<uint8_t> output(PlanarLayoutFor(64, 48).totalBytes);
    const VideoCodec expected[] = {VideoCodec::kH264, VideoCodec::kH264, VideoCodec::kH265,
                                   VideoCodec::kH265, VideoCodec::kH264, VideoCodec::kH264};
    for (size_t i = 0; i < stream.size(); ++i) {
        ASSERT_EQ(Decode(*decoder, stream[i].bytes, output).status, DecodeStatus::kPicture) << i;
        EXPECT_EQ(decoder->codec, expected[i]) << i;
        EXPECT_EQ(output, pictures[i].bytes) << i;
    }
}

// Main 10 (10-bit samples, as many H.265 cameras send) comes out as 8-bit
// 4:2:0 through the scaler: a lossless stream of 8-bit samples shifted up by
// two bits gives back the source within one level, key and predicted frames alike.
TEST(H264DecoderTest, MainTenH265DecodesToTheEightBitPicture) {
    const auto pictures = NoisePictures(176, 144, 3, 41);
    EncoderOptions options;
    options.encoder = "libx265";
    options.tenBit = true;
    options.gopSize = 2;
    const auto frames = test::EncodeSequence(options, pictures);
    ASSERT_EQ(frames.size(), pictures.size());
    DecoderPtr decoder = OpenDecoder();
    ASSERT_NE(decoder, nullptr);
    for (size_t i = 0; i < frames.size(); ++i) {
        std::vector<uint8_t> output(PlanarLayoutFor(176, 144).totalBytes);
        const Decoded decoded = Decode(*decoder, frames[i].bytes, output);
        ASSERT_EQ(decoded.status, DecodeStatus::kPicture) << "frame " << i;
        EXPECT_EQ(decoder->codec, VideoCodec::kH265);
        EXPECT_EQ(decoded.width, 176);
        EXPECT_EQ(decoded.height, 144);
        int worst = 0;
        for (size_t at = 0; at < output.size(); ++at)
            worst = std::max(worst, std::abs(int(output[at]) - int(pictures[i].bytes[at])));
        EXPECT_LE(worst, 1) << "frame " << i;
    }
}

TEST(H264DecoderTest, PictureLimitCountsTheAnnouncedPixelsExactly) {
    const auto frames = test::EncodeSequence(EncoderOptions{}, NoisePictures(176, 144, 1, 22));
    ASSERT_EQ(frames.size(), 1u);
    std::vector<uint8_t> output(PlanarLayoutFor(176, 144).totalBytes);

    DecoderPtr atLimit = OpenDecoder(176 * 144);
    ASSERT_NE(atLimit, nullptr);
    EXPECT_EQ(Decode(*atLimit, frames[0].bytes, output).status, DecodeStatus::kPicture);
    DecoderPtr belowLimit = OpenDecoder(176 * 144 - 1);
    ASSERT_NE(belowLimit, nullptr);
    EXPECT_EQ(Decode(*belowLimit, frames[0].bytes, output).status, DecodeStatus::kFailed);
}

}  // namespace
}  // namespace kavrel
