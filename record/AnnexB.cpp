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

int TypeOf(std::span<const uint8_t> unit, VideoCodec codec) {
    if (codec == VideoCodec::kH265)
        return unit.size() >= 2 ? (unit[0] >> 1) & 0x3F : -1;
    return unit[0] & 0x1F;
}

bool IsParameterSet(int type, VideoCodec codec) {
    if (codec == VideoCodec::kH265)
        return type >= 32 && type <= 34;
    return type == 7 || type == 8;
}

}  // namespace

std::vector<NalUnit> SplitAnnexB(std::span<const uint8_t> frame, VideoCodec codec) {
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

std::vector<uint8_t> ParameterSets(std::span<const uint8_t> frame, VideoCodec codec) {
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
