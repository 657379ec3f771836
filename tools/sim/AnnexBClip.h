#pragma once
// An H.264 or H.265 Annex B file held in memory and cut into access units, for
// streaming a recorded clip (--file). Loaded once at start; read-only after,
// so all sessions share one.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/sim/SimOptions.h"

namespace kavrel::sim {

struct AccessUnit {
    size_t offset = 0;  // of its first start code
    size_t size = 0;    // up to the next unit's first start code
    bool key = false;   // holds an IDR slice
};

enum class ClipCodec { kH264, kH265 };

// The codec of the stream's first parameter set (H.264 SPS/PPS, or H.265
// VPS/SPS/PPS of the base layer); H.264 when there is none.
ClipCodec FindClipCodec(std::span<const uint8_t> stream);

// Cuts an Annex B byte stream of the codec FindClipCodec names into access
// units: a unit begins at an access unit delimiter, parameter set or SEI that
// follows a slice, or at the first slice of a picture after another slice.
// Key units hold an IDR slice (H.264) or any IRAP picture (H.265). Bytes
// before the first start code, and a trailing unit without any slice, are
// left out.
std::vector<AccessUnit> SplitAccessUnits(std::span<const uint8_t> stream);

class AnnexBClip {
  public:
    // Files above this size are refused rather than read into memory.
    static constexpr size_t kMaxFileBytes = size_t(256) << 20;

    // Reads and cuts the file, then finds the picture size by decoding its
    // first pictures. False with a reason for a missing, empty, oversized or
    // undecodable file, or one without any key frame.
    bool Load(const std::string& path, std::string& error);

    const std::vector<AccessUnit>& Units() const { return m_units; }
    std::span<const uint8_t> Bytes(const AccessUnit& unit) const {
        return {m_bytes.data() + unit.offset, unit.size};
    }
    size_t FirstKey() const { return m_firstKey; }
    PictureSize Size() const { return m_size; }
    ClipCodec Codec() const { return m_codec; }

  private:
    bool ProbeSize(std::string& error);

    std::vector<uint8_t> m_bytes;
    std::vector<AccessUnit> m_units;
    size_t m_firstKey = 0;
    PictureSize m_size;
    ClipCodec m_codec = ClipCodec::kH264;
};

}  // namespace kavrel::sim
