// Feeds what an RTSP reader takes from the network beyond libavformat's own
// checks: extradata of any form (Annex B, avcC, hvcC or garbage), then packets
// cut from the rest at arbitrary points. Checks that a converted extradata is
// Annex B made of whole units within its bound, and that each frame handed on
// is the packet itself or the packet behind the newest parameter sets.
//
// Input: byte 0 picks the syntax (bit 0) and the flag pattern; bytes 1..2 the
// extradata's length; then the extradata; then packets, each a length byte
// and that many bytes.

#include <cstdint>
#include <cstring>
#include <vector>

#include "record/AnnexB.h"
#include "source/AnnexBFrames.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    __builtin_trap();
    (void)what;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kavrel;
    if (size < 3)
        return 0;
    const VideoCodec syntax = (data[0] & 1) ? VideoCodec::kH265 : VideoCodec::kH264;
    const uint8_t flags = data[0];
    size_t extraSize = size_t(data[1]) | (size_t(data[2]) << 8);
    size_t pos = 3;
    extraSize = std::min(extraSize, size - pos);
    const auto sets = ExtradataToAnnexB(syntax, data + pos, extraSize);
    pos += extraSize;
    if (!sets)
        return 0;
    if (!sets->empty() && (sets->size() < 5 || std::memcmp(sets->data(), "\0\0\0\1", 4) != 0))
        Fail("converted extradata is not Annex B");
    if (sets->size() > 2 * kMaxExtradataBytes)
        Fail("converted extradata beyond its bound");

    KeyFramePrefixer prefixer(syntax, *sets);
    std::vector<uint8_t> newest = *sets;
    for (int n = 0; pos < size; ++n) {
        const size_t length = std::min<size_t>(data[pos], size - pos - 1);
        const uint8_t* packet = data + pos + 1;
        pos += 1 + length;
        const bool flagged = (flags >> (1 + n % 7)) & 1;
        const FrameNals nals = ScanFrame(syntax, packet, length);
        const auto frame = prefixer.Prepare(packet, length, flagged);
        if (frame.keyFrame != (flagged || nals.keyPicture))
            Fail("key frame decided otherwise than by flag or NAL type");
        if (nals.hasSps) {
            newest = record::ParameterSets({packet, size_t(length)}, syntax);
        }
        const bool prefixed = frame.keyFrame && !nals.hasSps && !newest.empty();
        const size_t expected = prefixed ? newest.size() + length : length;
        if (frame.length != expected)
            Fail("frame length");
        if (prefixed && std::memcmp(frame.bytes, newest.data(), newest.size()) != 0)
            Fail("not the newest parameter sets in front");
        if (length > 0 && std::memcmp(frame.bytes + (expected - length), packet, length) != 0)
            Fail("the packet itself is not at the end");
    }
    return 0;
}
