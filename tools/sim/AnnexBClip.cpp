#include "tools/sim/AnnexBClip.h"

#include <algorithm>
#include <fstream>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace kavrel::sim {
namespace {

struct NalUnit {
    size_t start;    // of its start code
    size_t payload;  // first byte after the start code (the NAL header)
    size_t end;      // one past its last byte
};

std::vector<NalUnit> FindNalUnits(std::span<const uint8_t> s) {
    std::vector<NalUnit> units;
    const size_t n = s.size();
    size_t i = 0;
    while (i + 3 <= n) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
            // A zero before 00 00 01 belongs to a four-byte start code.
            const size_t start = (i > 0 && s[i - 1] == 0) ? i - 1 : i;
            if (!units.empty())
                units.back().end = start;
            units.push_back({start, i + 3, n});
            i += 3;
        } else {
            ++i;
        }
    }
    return units;
}

// What one NAL unit means for cutting access units, in either codec.
struct NalRole {
    bool slice = false;
    bool firstSlice = false;  // the first slice of a picture
    bool opens = false;       // after a slice, opens the next access unit
    bool key = false;         // a picture a decoder can start from
};

NalRole H264Role(std::span<const uint8_t> s, const NalUnit& nal) {
    const int type = s[nal.payload] & 0x1F;
    NalRole role;
    role.slice = type == 1 || type == 5;
    // first_mb_in_slice is ue(v): its first bit is 1 exactly when it is 0.
    role.firstSlice = role.slice && nal.payload + 1 < nal.end && (s[nal.payload + 1] & 0x80) != 0;
    // H.264 7.4.1.2.3
    role.opens = type == 6 || type == 7 || type == 8 || type == 9 || (type >= 14 && type <= 18);
    role.key = type == 5;
    return role;
}

NalRole H265Role(std::span<const uint8_t> s, const NalUnit& nal) {
    const int type = (s[nal.payload] >> 1) & 0x3F;
    NalRole role;
    role.slice = type <= 31;
    // first_slice_segment_in_pic_flag: the first bit after the two-byte header.
    role.firstSlice = role.slice && nal.payload + 2 < nal.end && (s[nal.payload + 2] & 0x80) != 0;
    // H.265 7.4.2.4.4: VPS, SPS, PPS, AUD, prefix SEI and the reserved 41..44, 48..55.
    role.opens = (type >= 32 && type <= 35) || type == 39 || (type >= 41 && type <= 44) ||
                 (type >= 48 && type <= 55);
    role.key = type >= 16 && type <= 21;  // IRAP: BLA, IDR, CRA
    return role;
}

}  // namespace

ClipCodec FindClipCodec(std::span<const uint8_t> stream) {
    for (const NalUnit& nal : FindNalUnits(stream)) {
        if (nal.payload + 1 >= nal.end)
            continue;
        const uint8_t header = stream[nal.payload];
        if ((header == 0x40 || header == 0x42 || header == 0x44) && stream[nal.payload + 1] == 1)
            return ClipCodec::kH265;
        if ((header & 0x1F) == 7 || (header & 0x1F) == 8)
            return ClipCodec::kH264;
    }
    return ClipCodec::kH264;
}

std::vector<AccessUnit> SplitAccessUnits(std::span<const uint8_t> stream) {
    const bool h265 = FindClipCodec(stream) == ClipCodec::kH265;
    std::vector<AccessUnit> units;
    bool unitHasSlice = false;
    for (const NalUnit& nal : FindNalUnits(stream)) {
        if (nal.payload + (h265 ? 1 : 0) >= nal.end)
            continue;  // empty NAL unit (or a lone byte of a two-byte header): nothing to decode
        const NalRole role = h265 ? H265Role(stream, nal) : H264Role(stream, nal);
        const bool opens = units.empty() || (unitHasSlice && (role.opens || role.firstSlice));
        if (opens) {
            units.push_back({nal.start, 0, false});
            unitHasSlice = false;
        }
        AccessUnit& unit = units.back();
        unit.size = nal.end - unit.offset;
        unitHasSlice = unitHasSlice || role.slice;
        unit.key = unit.key || role.key;
    }
    if (!units.empty() && !unitHasSlice)
        units.pop_back();
    return units;
}

bool AnnexBClip::Load(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    const std::streamoff length = file.tellg();
    if (length <= 0 || size_t(length) > kMaxFileBytes) {
        error = path + (length <= 0 ? " is empty" : " is larger than 256 MiB");
        return false;
    }
    // Zero padding behind the stream: the decoder may read a little past a
    // packet's end, here past the last unit.
    m_bytes.assign(size_t(length) + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(m_bytes.data()), length)) {
        error = "cannot read " + path;
        return false;
    }
    const std::span<const uint8_t> stream(m_bytes.data(), size_t(length));
    m_codec = FindClipCodec(stream);
    m_units = SplitAccessUnits(stream);
    m_firstKey = m_units.size();
    for (size_t i = 0; i < m_units.size(); ++i) {
        if (m_units[i].key) {
            m_firstKey = i;
            break;
        }
    }
    if (m_firstKey == m_units.size()) {
        error = path + " holds no H.264 or H.265 key frame (is it an Annex B stream?)";
        return false;
    }
    return ProbeSize(error);
}

bool AnnexBClip::ProbeSize(std::string& error) {
    const bool h265 = m_codec == ClipCodec::kH265;
    const AVCodec* codec = avcodec_find_decoder(h265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    auto freeContext = [](AVCodecContext* c) { avcodec_free_context(&c); };
    auto freeFrame = [](AVFrame* f) { av_frame_free(&f); };
    auto freePacket = [](AVPacket* p) { av_packet_free(&p); };
    std::unique_ptr<AVCodecContext, decltype(freeContext)> context(
        codec ? avcodec_alloc_context3(codec) : nullptr, freeContext);
    std::unique_ptr<AVFrame, decltype(freeFrame)> frame(av_frame_alloc(), freeFrame);
    std::unique_ptr<AVPacket, decltype(freePacket)> packet(av_packet_alloc(), freePacket);
    if (!context || !frame || !packet || avcodec_open2(context.get(), codec, nullptr) < 0) {
        error = h265 ? "cannot open libavcodec's HEVC decoder"
                     : "cannot open libavcodec's H.264 decoder";
        return false;
    }
    // Decode from the first key frame until a picture comes out (a few units
    // at most with a low-delay stream; a reordering one needs a few more).
    const size_t last = std::min(m_units.size(), m_firstKey + 64);
    for (size_t i = m_firstKey; i < last; ++i) {
        const AccessUnit& unit = m_units[i];
        packet->data = m_bytes.data() + unit.offset;
        packet->size = int(unit.size);
        if (avcodec_send_packet(context.get(), packet.get()) < 0)
            continue;
        if (avcodec_receive_frame(context.get(), frame.get()) == 0) {
            m_size = {frame->width, frame->height};
            return true;
        }
    }
    error = "no picture decodes from the file's first access units";
    return false;
}

}  // namespace kavrel::sim
