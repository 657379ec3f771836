#include "video/StreamCodec.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "video/NalUnits.h"

namespace kavrel {
namespace {

bool IsH265ParameterSet(const uint8_t* nal, size_t size) {
    // forbidden bit 0, type 32..34, nuh_layer_id 0, TemporalId + 1 not 0.
    return size >= 2 && (nal[0] == 0x40 || nal[0] == 0x42 || nal[0] == 0x44) &&
           (nal[1] & 0xF8) == 0 && (nal[1] & 0x07) != 0;
}

bool IsH264ParameterSet(const uint8_t* nal, size_t size) {
    if (size < 2)
        return false;  // a start code at the very end leaves an empty unit
    const uint8_t type = nal[0] & 0x1F;
    // forbidden bit 0, nal_ref_idc not 0 (parameter sets are always referenced).
    if ((nal[0] & 0x80) != 0 || (nal[0] & 0x60) == 0 || (type != 7 && type != 8))
        return false;
    // An H.265 IDR_N_LP or RADL_N slice header reads like an H.264 PPS
    // (0x28 01, 0x08 01); an H.264 PPS never starts so (pps_id would be over 30).
    return !(type == 8 && (nal[1] & 0xF8) == 0 && (nal[1] & 0x07) != 0);
}

// Reads the bits of a NAL unit's payload, skipping emulation prevention bytes.
class BitReader {
  public:
    BitReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool Ok() const { return m_ok; }
    uint32_t Bits(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i)
            value = (value << 1) | Bit();
        return value;
    }
    void Skip(int count) {
        for (int i = 0; i < count; ++i)
            Bit();
    }
    uint32_t Ue() {
        int zeros = 0;
        while (Bit() == 0) {
            if (!m_ok || ++zeros > 31) {
                m_ok = false;
                return 0;
            }
        }
        return uint32_t((uint64_t(1) << zeros) - 1 + Bits(zeros));
    }
    int32_t Se() {
        const uint32_t code = Ue();
        return (code & 1) != 0 ? int32_t((code + 1) / 2) : -int32_t(code / 2);
    }

  private:
    uint32_t Bit() {
        if (m_bit == 0) {
            if (m_pos >= m_size) {
                m_ok = false;
                return 0;
            }
            if (m_zeros >= 2 && m_data[m_pos] == 3) {
                m_zeros = 0;
                if (++m_pos >= m_size) {
                    m_ok = false;
                    return 0;
                }
            }
            m_zeros = m_data[m_pos] == 0 ? m_zeros + 1 : 0;
        }
        const uint32_t bit = (m_data[m_pos] >> (7 - m_bit)) & 1;
        if (++m_bit == 8) {
            m_bit = 0;
            ++m_pos;
        }
        return bit;
    }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    int m_bit = 0;
    int m_zeros = 0;
    bool m_ok = true;
};

uint64_t H264SpsPixels(const uint8_t* nal, size_t size) {
    BitReader bits(nal + 1, size - 1);
    const uint32_t profile = bits.Bits(8);
    bits.Skip(16);  // constraint flags, level_idc
    bits.Ue();      // seq_parameter_set_id
    static constexpr uint32_t kHighProfiles[] = {100, 110, 122, 244, 44,  83, 86,
                                                 118, 128, 138, 139, 134, 135};
    if (std::find(std::begin(kHighProfiles), std::end(kHighProfiles), profile) !=
        std::end(kHighProfiles)) {
        const uint32_t chromaFormat = bits.Ue();
        if (chromaFormat == 3)
            bits.Skip(1);         // separate_colour_plane_flag
        bits.Ue();                // bit_depth_luma_minus8
        bits.Ue();                // bit_depth_chroma_minus8
        bits.Skip(1);             // qpprime_y_zero_transform_bypass_flag
        if (bits.Bits(1) != 0) {  // seq_scaling_matrix_present_flag
            const int lists = chromaFormat == 3 ? 12 : 8;
            for (int i = 0; i < lists && bits.Ok(); ++i) {
                if (bits.Bits(1) == 0)
                    continue;
                int last = 8, next = 8;
                for (int j = 0; j < (i < 6 ? 16 : 64) && next != 0 && bits.Ok(); ++j) {
                    next = (last + bits.Se() + 256) % 256;
                    last = next == 0 ? last : next;
                }
            }
        }
    }
    bits.Ue();  // log2_max_frame_num_minus4
    const uint32_t pocType = bits.Ue();
    if (pocType == 0) {
        bits.Ue();  // log2_max_pic_order_cnt_lsb_minus4
    } else if (pocType == 1) {
        bits.Skip(1);  // delta_pic_order_always_zero_flag
        bits.Se();     // offset_for_non_ref_pic
        bits.Se();     // offset_for_top_to_bottom_field
        const uint32_t cycle = bits.Ue();
        for (uint32_t i = 0; i < cycle && i < 256 && bits.Ok(); ++i)
            bits.Se();
    }
    bits.Ue();     // max_num_ref_frames
    bits.Skip(1);  // gaps_in_frame_num_value_allowed_flag
    const uint64_t widthMbs = uint64_t(bits.Ue()) + 1;
    const uint64_t heightUnits = uint64_t(bits.Ue()) + 1;
    const uint64_t frameMbsOnly = bits.Bits(1);
    if (!bits.Ok())
        return 0;
    return widthMbs * 16 * heightUnits * 16 * (frameMbsOnly != 0 ? 1 : 2);
}

uint64_t H265SpsPixels(const uint8_t* nal, size_t size) {
    BitReader bits(nal + 2, size - 2);
    bits.Skip(4);                             // sps_video_parameter_set_id
    const uint32_t subLayers = bits.Bits(3);  // sps_max_sub_layers_minus1
    bits.Skip(1);                             // sps_temporal_id_nesting_flag
    // profile_tier_level: the general profile and level take 96 bits.
    bits.Skip(96);
    bool profilePresent[8] = {};
    bool levelPresent[8] = {};
    for (uint32_t i = 0; i < subLayers; ++i) {
        profilePresent[i] = bits.Bits(1) != 0;
        levelPresent[i] = bits.Bits(1) != 0;
    }
    if (subLayers > 0)
        bits.Skip(2 * int(8 - subLayers));  // reserved_zero_2bits
    for (uint32_t i = 0; i < subLayers; ++i)
        bits.Skip((profilePresent[i] ? 88 : 0) + (levelPresent[i] ? 8 : 0));
    bits.Ue();  // sps_seq_parameter_set_id
    if (bits.Ue() == 3)
        bits.Skip(1);  // separate_colour_plane_flag
    const uint64_t width = bits.Ue();
    const uint64_t height = bits.Ue();
    return bits.Ok() ? width * height : 0;
}

}  // namespace

VideoCodec DetectCodec(const uint8_t* data, size_t size) {
    if (data == nullptr)
        return VideoCodec::kUnknown;
    size_t pos = 0, begin = 0, end = 0;
    // Every unit: a sender may put any number of others before the parameter sets.
    while (NextNalUnit(data, size, pos, begin, end)) {
        if (IsH265ParameterSet(data + begin, end - begin))
            return VideoCodec::kH265;
        if (IsH264ParameterSet(data + begin, end - begin))
            return VideoCodec::kH264;
    }
    return VideoCodec::kUnknown;
}

const char* CodecName(VideoCodec codec) {
    switch (codec) {
        case VideoCodec::kH264:
            return "H.264";
        case VideoCodec::kH265:
            return "H.265";
        case VideoCodec::kUnknown:
            break;
    }
    return "";
}

uint64_t AnnouncedPixels(VideoCodec codec, const uint8_t* data, size_t size) {
    if (data == nullptr || codec == VideoCodec::kUnknown)
        return 0;
    uint64_t largest = 0;
    size_t pos = 0, begin = 0, end = 0;
    // Every unit: an SPS after many others must not slip past the picture
    // limit. Reading one SPS costs at most its own length.
    while (NextNalUnit(data, size, pos, begin, end)) {
        const uint8_t* nal = data + begin;
        const size_t length = end - begin;
        if (codec == VideoCodec::kH264 && length >= 2 && (nal[0] & 0x9F) == 7)
            largest = std::max(largest, H264SpsPixels(nal, length));
        else if (codec == VideoCodec::kH265 && length >= 3 && nal[0] == 0x42 &&
                 (nal[1] & 0xF8) == 0)
            largest = std::max(largest, H265SpsPixels(nal, length));
    }
    return largest;
}

}  // namespace kavrel
