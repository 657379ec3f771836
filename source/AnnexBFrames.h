#pragma once
// What an RTSP reader does to libavformat's packets before they leave as
// frames of the source interface: Annex B byte streams in which every key
// frame carries its parameter sets.
//
// The RTP depacketizers give Annex B access units, but a camera may send its
// parameter sets only in the SDP (sprop-parameter-sets), which libavformat
// keeps as the stream's extradata, or as avcC / hvcC when a stream came from
// elsewhere. Pure functions over bytes, no library: everything here takes
// input from the network and is fuzzed (fuzz/RtspFramesFuzz.cpp).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "video/StreamCodec.h"

namespace kavrel {

// Larger extradata than this is refused: SPS, PPS and VPS of a real stream
// take a few hundred bytes.
constexpr size_t kMaxExtradataBytes = 64 * 1024;

// Extradata (Annex B, avcC for H.264 or hvcC for H.265) as Annex B NAL units,
// each behind a 4-byte start code. Empty input gives an empty result;
// nullopt when it is malformed (a length beyond its end) or larger than
// kMaxExtradataBytes.
std::optional<std::vector<uint8_t>> ExtradataToAnnexB(VideoCodec syntax, const uint8_t* data,
                                                      size_t size);

struct FrameNals {
    bool hasSps = false;      // an SPS of the base layer
    bool keyPicture = false;  // H.264 IDR (type 5), H.265 IRAP (types 16 to 23)
};

// The NAL units of an Annex B frame that decide how it is handed on.
FrameNals ScanFrame(VideoCodec syntax, const uint8_t* data, size_t size);

// Turns the packets of one stream into frames. It keeps the newest
// parameter sets seen (the extradata's at first, then those of any frame
// that carries an SPS, so a stream that changes its size in-band is not sent
// back to the old one) and puts them before each key frame lacking an SPS.
// Not thread-safe: one per stream, on the reader's thread.
class KeyFramePrefixer {
  public:
    KeyFramePrefixer(VideoCodec syntax, std::vector<uint8_t> parameterSets)
        : m_syntax(syntax), m_parameterSets(std::move(parameterSets)) {}

    struct Frame {
        const uint8_t* bytes = nullptr;  // the packet's own bytes, or the prefixer's buffer
        size_t length = 0;
        bool keyFrame = false;
    };

    // `flaggedKey`: libavformat marked the packet as a key frame. The result
    // is valid until the next call.
    Frame Prepare(const uint8_t* data, size_t size, bool flaggedKey);

  private:
    VideoCodec m_syntax;
    std::vector<uint8_t> m_parameterSets;
    std::vector<uint8_t> m_buffer;
};

}  // namespace kavrel
