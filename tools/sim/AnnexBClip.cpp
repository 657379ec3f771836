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

bool IsSlice(int type) {
    return type == 1 || type == 5;
}

// Types that, after a slice, open the next access unit (H.264 7.4.1.2.3).
bool OpensUnit(int type) {
    return type == 6 || type == 7 || type == 8 || type == 9 || (type >= 14 && type <= 18);
}

}  // namespace

std::vector<AccessUnit> SplitAccessUnits(std::span<const uint8_t> stream) {
    std::vector<AccessUnit> units;
    bool unitHasSlice = false;
    for (const NalUnit& nal : FindNalUnits(stream)) {
        if (nal.payload >= nal.end)
            continue;  // empty NAL unit: nothing to decode
        const int type = stream[nal.payload] & 0x1F;
        // first_mb_in_slice is ue(v): its first bit is 1 exactly when it is 0.
        const bool firstSlice =
            IsSlice(type) && nal.payload + 1 < nal.end && (stream[nal.payload + 1] & 0x80) != 0;
        const bool opens = units.empty() || (unitHasSlice && (OpensUnit(type) || firstSlice));
        if (opens) {
            units.push_back({nal.start, 0, false});
            unitHasSlice = false;
        }
        AccessUnit& unit = units.back();
        unit.size = nal.end - unit.offset;
        unitHasSlice = unitHasSlice || IsSlice(type);
        unit.key = unit.key || type == 5;
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
    m_units = SplitAccessUnits(std::span<const uint8_t>(m_bytes.data(), size_t(length)));
    m_firstKey = m_units.size();
    for (size_t i = 0; i < m_units.size(); ++i) {
        if (m_units[i].key) {
            m_firstKey = i;
            break;
        }
    }
    if (m_firstKey == m_units.size()) {
        error = path + " holds no H.264 key frame (is it an Annex B stream?)";
        return false;
    }
    return ProbeSize(error);
}

bool AnnexBClip::ProbeSize(std::string& error) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    auto freeContext = [](AVCodecContext* c) { avcodec_free_context(&c); };
    auto freeFrame = [](AVFrame* f) { av_frame_free(&f); };
    auto freePacket = [](AVPacket* p) { av_packet_free(&p); };
    std::unique_ptr<AVCodecContext, decltype(freeContext)> context(
        codec ? avcodec_alloc_context3(codec) : nullptr, freeContext);
    std::unique_ptr<AVFrame, decltype(freeFrame)> frame(av_frame_alloc(), freeFrame);
    std::unique_ptr<AVPacket, decltype(freePacket)> packet(av_packet_alloc(), freePacket);
    if (!context || !frame || !packet || avcodec_open2(context.get(), codec, nullptr) < 0) {
        error = "cannot open libavcodec's H.264 decoder";
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
