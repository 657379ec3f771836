#include "source/AnnexBFrames.h"

#include <cstring>

#include "record/AnnexB.h"
#include "video/NalUnits.h"

namespace kavrel {
namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

// The NAL unit type; -1 for a unit too short to have one, or of a layer
// above the base one (H.265).
int NalType(VideoCodec syntax, const uint8_t* nal, size_t size) {
    if (syntax == VideoCodec::kH264)
        return size >= 1 ? (nal[0] & 0x1F) : -1;
    if (size < 2 || (nal[0] & 0x01) != 0 || (nal[1] & 0xF8) != 0)
        return -1;
    return (nal[0] >> 1) & 0x3F;
}

bool IsSps(VideoCodec syntax, int type) {
    return type == (syntax == VideoCodec::kH264 ? 7 : 33);
}

bool IsKeyPicture(VideoCodec syntax, int type) {
    return syntax == VideoCodec::kH264 ? type == 5 : (type >= 16 && type <= 23);
}

bool StartsWithStartCode(const uint8_t* data, size_t size) {
    return (size >= 3 && data[0] == 0 && data[1] == 0 && data[2] == 1) ||
           (size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1);
}

void AppendNal(std::vector<uint8_t>& out, const uint8_t* nal, size_t size) {
    out.insert(out.end(), kStartCode, kStartCode + 4);
    out.insert(out.end(), nal, nal + size);
}

// Reads the length-prefixed units of avcC and hvcC, every length checked
// against what is left.
class BoxReader {
  public:
    BoxReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool Byte(uint8_t& value) {
        if (m_pos + 1 > m_size)
            return false;
        value = m_data[m_pos++];
        return true;
    }
    bool U16(uint16_t& value) {
        if (m_pos + 2 > m_size)
            return false;
        value = uint16_t((m_data[m_pos] << 8) | m_data[m_pos + 1]);
        m_pos += 2;
        return true;
    }
    bool Skip(size_t count) {
        if (count > m_size - m_pos)
            return false;
        m_pos += count;
        return true;
    }
    // One unit of a 16-bit length into `out` as Annex B.
    bool Unit(std::vector<uint8_t>& out) {
        uint16_t length = 0;
        if (!U16(length) || length > m_size - m_pos)
            return false;
        if (length > 0)
            AppendNal(out, m_data + m_pos, length);
        m_pos += length;
        return true;
    }

  private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

std::optional<std::vector<uint8_t>> AvcCToAnnexB(const uint8_t* data, size_t size) {
    BoxReader box(data, size);
    std::vector<uint8_t> out;
    uint8_t count = 0;
    if (!box.Skip(5) || !box.Byte(count))
        return std::nullopt;
    for (int i = 0; i < (count & 0x1F); ++i) {
        if (!box.Unit(out))
            return std::nullopt;
    }
    if (!box.Byte(count))
        return std::nullopt;
    for (int i = 0; i < count; ++i) {
        if (!box.Unit(out))
            return std::nullopt;
    }
    return out;
}

std::optional<std::vector<uint8_t>> HvcCToAnnexB(const uint8_t* data, size_t size) {
    BoxReader box(data, size);
    std::vector<uint8_t> out;
    uint8_t arrays = 0;
    if (!box.Skip(22) || !box.Byte(arrays))
        return std::nullopt;
    for (int i = 0; i < arrays; ++i) {
        uint8_t type = 0;
        uint16_t units = 0;
        if (!box.Byte(type) || !box.U16(units))
            return std::nullopt;
        for (int j = 0; j < units; ++j) {
            if (!box.Unit(out))
                return std::nullopt;
        }
    }
    return out;
}

}  // namespace

std::optional<std::vector<uint8_t>> ExtradataToAnnexB(VideoCodec syntax, const uint8_t* data,
                                                      size_t size) {
    if (size > kMaxExtradataBytes)
        return std::nullopt;
    if (size == 0)
        return std::vector<uint8_t>{};
    if (StartsWithStartCode(data, size))
        return record::ParameterSets({data, size}, syntax);
    // avcC and hvcC begin with configurationVersion 1.
    if (data[0] != 1)
        return std::nullopt;
    return syntax == VideoCodec::kH264 ? AvcCToAnnexB(data, size) : HvcCToAnnexB(data, size);
}

FrameNals ScanFrame(VideoCodec syntax, const uint8_t* data, size_t size) {
    FrameNals found;
    size_t pos = 0, begin = 0, end = 0;
    while (NextNalUnit(data, size, pos, begin, end)) {
        const int type = NalType(syntax, data + begin, end - begin);
        found.hasSps = found.hasSps || IsSps(syntax, type);
        found.keyPicture = found.keyPicture || IsKeyPicture(syntax, type);
    }
    return found;
}

KeyFramePrefixer::Frame KeyFramePrefixer::Prepare(const uint8_t* data, size_t size,
                                                  bool flaggedKey) {
    const FrameNals nals = ScanFrame(m_syntax, data, size);
    Frame frame{data, size, flaggedKey || nals.keyPicture};
    if (nals.hasSps) {
        m_parameterSets = record::ParameterSets({data, size}, m_syntax);
        return frame;
    }
    if (!frame.keyFrame || m_parameterSets.empty())
        return frame;
    m_buffer.clear();
    m_buffer.reserve(m_parameterSets.size() + size);
    m_buffer.insert(m_buffer.end(), m_parameterSets.begin(), m_parameterSets.end());
    m_buffer.insert(m_buffer.end(), data, data + size);
    frame.bytes = m_buffer.data();
    frame.length = m_buffer.size();
    return frame;
}

}  // namespace kavrel
