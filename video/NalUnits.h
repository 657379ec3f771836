#pragma once
// Walking the NAL units of an Annex B byte stream (start codes of 3 or 4
// bytes). Header only, no library: the stream checks and the RTSP reader's
// parameter-set handling both walk frames this way.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kavrel {

// The next NAL unit from `pos`: [begin, end) without its start code. Each
// byte of the frame is searched once over all calls, so that a walk over
// every unit of a frame (however many tiny units it holds) stays linear in
// the frame's length.
inline bool NextNalUnit(const uint8_t* data, size_t size, size_t& pos, size_t& begin, size_t& end) {
    // Find "00 00 01" by looking for the 01 first: memchr is far faster than a byte loop
    // over slice data, which a non-key frame consists of.
    auto findStart = [&](size_t from) -> size_t {
        while (from + 3 <= size) {
            const void* one = std::memchr(data + from + 2, 1, size - from - 2);
            if (one == nullptr)
                return size;
            const size_t at = size_t(static_cast<const uint8_t*>(one) - data) - 2;
            if (data[at] == 0 && data[at + 1] == 0)
                return at;
            from = at + 1;
        }
        return size;
    };
    const size_t start = findStart(pos);
    if (start >= size)
        return false;
    begin = start + 3;
    const size_t next = findStart(begin);
    end = next;
    // A 4-byte start code's leading zero (and trailing zero bytes) belong to no unit.
    while (end > begin && data[end - 1] == 0)
        --end;
    pos = next;
    return true;
}

}  // namespace kavrel
