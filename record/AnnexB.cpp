#include "record/AnnexB.h"

#include <cstring>

namespace kavrel::record {
namespace {

// Length of the start code at `at` (3 or 4), or 0 when none begins there.
size_t StartCodeAt(std::span<const uint8_t> bytes, size_t at) {
    if (at + 3 <= bytes.size() && bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 1)
        return 3;
    if (at + 4 <= bytes.size() && bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 0 &&
        bytes[at + 3] == 1)
        return 4;
    return 0;
}

// Where the next three-byte start code (0 0 1) at or after `from` begins, or
// the frame's size. It looks for the 1 with memchr: once per frame, every
// frame, on the recorder's writer thread, so it must not go byte by byte.
size_t NextStartCode(std::span<const uint8_t> bytes, size_t from) {
    size_t at = from + 2;
    while (at < bytes.size()) {
        const void* one = std::memchr(bytes.data() + at, 1, bytes.size() - at);
        if (!one)
            break;
        at = size_t(static_cast<const uint8_t*>(one) - bytes.data());
        if (bytes[at - 1] == 0 && bytes[at - 2] == 0)
            return at - 2;
        ++at;
    }
    return bytes.size();
}

int TypeOf(std::span<const uint8_t> unit, StreamCodec codec) {
    if (codec == StreamCodec::H265)
        return unit.size() >= 2 ? (unit[0] >> 1) & 0x3F : -1;
    return unit[0] & 0x1F;
}

bool IsParameterSet(int type, StreamCodec codec) {
    if (codec == StreamCodec::H265)
        return type >= 32 && type <= 34;
    return type == 7 || type == 8;
}

}  // namespace

std::vector<NalUnit> SplitAnnexB(std::span<const uint8_t> frame, StreamCodec codec) {
    std::vector<NalUnit> units;
    const size_t code = StartCodeAt(frame, 0);
    if (code == 0)
        return units;
    size_t begin = code;
    for (;;) {
        const size_t next = NextStartCode(frame, begin);
        // Zero bytes before a start code (the first of a four-byte one, or
        // trailing zeros) belong to no unit.
        size_t end = next;
        while (end > begin && frame[end - 1] == 0)
            --end;
        const std::span<const uint8_t> unit = frame.subspan(begin, end - begin);
        // An empty unit or a set forbidden bit: not a stream we can copy.
        if (unit.empty() || (unit[0] & 0x80) != 0)
            return {};
        units.push_back(NalUnit{unit, TypeOf(unit, codec)});
        if (next == frame.size())
            break;
        begin = next + 3;
    }
    return units;
}

StreamCodec CodecOfParameterSets(std::span<const uint8_t> frame) {
    const std::vector<NalUnit> units = SplitAnnexB(frame, StreamCodec::H264);
    for (const NalUnit& unit : units) {
        if (unit.type == 7)
            return StreamCodec::H264;
    }
    // An H.265 header is two bytes. Its parameter sets' first bytes also read
    // as H.264 units (0x40 to 0x45: H.264 slices of types 0 to 5, 0x41 an
    // ordinary P slice), so H.264 is asked first, and H.265 needs all three
    // sets, each of the base layer with a temporal id: what an H.264 slice's
    // second byte seldom gives three times over.
    bool video = false;
    bool sequence = false;
    bool picture = false;
    for (const NalUnit& unit : units) {
        if (unit.bytes.size() < 2)
            continue;
        const int layer = ((unit.bytes[0] & 1) << 5) | (unit.bytes[1] >> 3);
        if (layer != 0 || (unit.bytes[1] & 7) == 0)
            continue;
        const int type = TypeOf(unit.bytes, StreamCodec::H265);
        video = video || type == 32;
        sequence = sequence || type == 33;
        picture = picture || type == 34;
    }
    return video && sequence && picture ? StreamCodec::H265 : StreamCodec::Unknown;
}

std::vector<uint8_t> ParameterSets(std::span<const uint8_t> frame, StreamCodec codec) {
    std::vector<uint8_t> sets;
    for (const NalUnit& unit : SplitAnnexB(frame, codec)) {
        if (!IsParameterSet(unit.type, codec))
            continue;
        sets.insert(sets.end(), {0, 0, 0, 1});
        sets.insert(sets.end(), unit.bytes.begin(), unit.bytes.end());
    }
    return sets;
}

}  // namespace kavrel::record
