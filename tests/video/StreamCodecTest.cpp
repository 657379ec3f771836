// The codec detector and the SPS size reader, on hand-made NAL units and on
// real streams of both encoders.

#include "video/StreamCodec.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/CraftedStreams.h"
#include "tests/support/H264TestEncoder.h"

namespace kavrel {
namespace {

using Bytes = std::vector<uint8_t>;

VideoCodec Detect(const Bytes& bytes) {
    return DetectCodec(bytes.data(), bytes.size());
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// Start codes of 3 and 4 bytes; NAL headers as encoders write them.
const Bytes kAud264 = {0, 0, 0, 1, 0x09, 0xF0};
const Bytes kSei264 = {0, 0, 1, 0x06, 0x05, 0x01, 0xAA, 0x80};
const Bytes kSps264 = {0, 0, 1, 0x67, 0x42, 0xC0, 0x1E, 0xDA};
const Bytes kPps264 = {0, 0, 0, 1, 0x68, 0xCE, 0x3C, 0x80};
const Bytes kSlice264 = {0, 0, 1, 0x65, 0x88, 0x84};
const Bytes kAud265 = {0, 0, 0, 1, 0x46, 0x01, 0x10};
const Bytes kSei265 = {0, 0, 1, 0x4E, 0x01, 0x05, 0x01, 0xAA};
const Bytes kVps265 = {0, 0, 0, 1, 0x40, 0x01, 0x0C, 0x01};
const Bytes kPps265 = {0, 0, 1, 0x44, 0x01, 0xC1, 0x72};
const Bytes kIdrNoLeading265 = {0, 0, 1, 0x28, 0x01, 0xAF, 0x1D};  // reads as an H.264 PPS
const Bytes kTrail265 = {0, 0, 1, 0x02, 0x01, 0xD0};

TEST(StreamCodecTest, ParameterSetsNameTheCodecWhateverStandsBeforeThem) {
    struct Case {
        const char* name;
        Bytes frame;
        VideoCodec expected;
    };
    const Case cases[] = {
        {"H.264 key frame", Cat({kSps264, kPps264, kSlice264}), VideoCodec::kH264},
        {"H.264 AUD and SEI first", Cat({kAud264, kSei264, kSps264, kPps264, kSlice264}),
         VideoCodec::kH264},
        {"H.264 PPS alone", Cat({kPps264, kSlice264}), VideoCodec::kH264},
        {"H.265 key frame", Cat({kVps265, kPps265, kIdrNoLeading265}), VideoCodec::kH265},
        {"H.265 AUD and SEI first", Cat({kAud265, kSei265, kVps265, kIdrNoLeading265}),
         VideoCodec::kH265},
        {"H.264 slice only", kSlice264, VideoCodec::kUnknown},
        {"H.265 slices only", Cat({kTrail265, kIdrNoLeading265}), VideoCodec::kUnknown},
        {"no start code", {0x67, 0x42, 0x00, 0x1E}, VideoCodec::kUnknown},
        {"empty", {}, VideoCodec::kUnknown},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Detect(c.frame), c.expected) << c.name;
}

TEST(StreamCodecTest, TruncatedInputNeverReadsPastItsEnd) {
    const Bytes frames[] = {Cat({kSei264, kSps264, kPps264}), Cat({kAud265, kVps265, kPps265})};
    for (const Bytes& frame : frames) {
        // Each prefix in its own allocation, so AddressSanitizer sees any overread.
        for (size_t length = 0; length <= frame.size(); ++length) {
            const Bytes prefix(frame.begin(), frame.begin() + ptrdiff_t(length));
            const VideoCodec found = Detect(prefix);
            EXPECT_TRUE(found == VideoCodec::kUnknown || found == Detect(frame)) << length;
            AnnouncedPixels(VideoCodec::kH264, prefix.data(), prefix.size());
            AnnouncedPixels(VideoCodec::kH265, prefix.data(), prefix.size());
        }
    }
    // A bare header byte after the start code is too short to be a parameter set.
    EXPECT_EQ(Detect({0, 0, 1, 0x67}), VideoCodec::kUnknown);
    EXPECT_EQ(Detect({0, 0, 1, 0x40}), VideoCodec::kUnknown);
}

TEST(StreamCodecTest, RealStreamsAreDetectedAndTheirSizeRead) {
    for (const char* encoder : {"libx264", "libx265"}) {
        test::EncoderOptions options;
        options.encoder = encoder;
        options.width = 352;
        options.height = 288;
        options.gopSize = 2;
        const auto frames = test::EncodeSequence(
            options, {test::MakeScenePicture(352, 288, 0), test::MakeScenePicture(352, 288, 1)});
        ASSERT_EQ(frames.size(), 2u) << encoder;
        const VideoCodec codec =
            std::string(encoder) == "libx264" ? VideoCodec::kH264 : VideoCodec::kH265;
        EXPECT_EQ(Detect(frames[0].bytes), codec) << encoder;
        EXPECT_EQ(Detect(frames[1].bytes), VideoCodec::kUnknown) << encoder << " non-key frame";
        EXPECT_EQ(AnnouncedPixels(codec, frames[0].bytes.data(), frames[0].bytes.size()),
                  352u * 288u)
            << encoder;
        // The other codec's reading finds no SPS of its own there.
        const VideoCodec other = codec == VideoCodec::kH264 ? VideoCodec::kH265 : VideoCodec::kH264;
        EXPECT_EQ(AnnouncedPixels(other, frames[0].bytes.data(), frames[0].bytes.size()), 0u);
    }
}

TEST(StreamCodecTest, AnnouncedSizeOfAHandMadeSps) {
    const Bytes frame = test::OversizedH264KeyFrame(1000, 1000);
    EXPECT_EQ(Detect(frame), VideoCodec::kH264);
    EXPECT_EQ(AnnouncedPixels(VideoCodec::kH264, frame.data(), frame.size()), 16000u * 16000u);

    // However many units stand before it, the SPS is read.
    Bytes crowded;
    for (int unit = 0; unit < 200; ++unit)
        crowded.insert(crowded.end(), kSei264.begin(), kSei264.end());
    crowded.insert(crowded.end(), frame.begin(), frame.end());
    EXPECT_EQ(Detect(crowded), VideoCodec::kH264);
    EXPECT_EQ(AnnouncedPixels(VideoCodec::kH264, crowded.data(), crowded.size()), 16000u * 16000u);
}

}  // namespace
}  // namespace kavrel
