#pragma once
// Makes real H.264 (or H.265) streams at run time with libavcodec's libx264
// (or libx265) encoder, for
// tests, benchmarks and tools that need video without sample files.
//
// Each encoded frame is a complete access unit as a camera server sends it: an
// H.264 byte stream with start codes, and the parameter sets repeated in front
// of every key frame. No B-frames and no look-ahead, so each picture given to
// Encode comes out as one frame at once.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace kavrel::test {

// A picture in the packed planar YUV 4:2:0 layout of the decoder wrapper:
// Y (height rows of width bytes), then U and V (height/2 rows of width/2).
struct YuvPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bytes;

    static YuvPicture Blank(int width, int height);  // all planes 0
    uint8_t* Y() { return bytes.data(); }
    uint8_t* U() { return bytes.data() + size_t(width) * height; }
    uint8_t* V() { return U() + size_t(width / 2) * (height / 2); }
    const uint8_t* Y() const { return bytes.data(); }
    const uint8_t* U() const { return bytes.data() + size_t(width) * height; }
    const uint8_t* V() const { return U() + size_t(width / 2) * (height / 2); }
};

// Uniformly random samples over 0..255 (every plane), reproducible by seed.
YuvPicture MakeNoisePicture(int width, int height, uint32_t seed);
// Smooth moving gradients with a little noise: compresses like camera video.
YuvPicture MakeScenePicture(int width, int height, int frameIndex);

struct EncodedFrame {
    std::vector<uint8_t> bytes;
    bool keyFrame = false;
};

struct EncoderOptions {
    int width = 176;
    int height = 144;
    int qp = 0;  // 0: lossless; negative: the encoder's default rate control (crf 23)
    int gopSize = 25;
    int frameRate = 25;
    std::string preset = "ultrafast";
    std::string profile;  // empty: chosen by the encoder ("baseline", "main", ...)
    // "libx264", or "libx265" for H.265 (qp 0 is lossless there too).
    std::string encoder = "libx264";
    // 4:4:4 instead of 4:2:0 (each chroma sample of the picture repeated over
    // its 2 x 2 block), as some cameras send.
    bool fullChroma = false;
    // 10-bit 4:2:0 (yuv420p10le, H.265 Main 10 with libx265): each sample of
    // the picture shifted up by two bits.
    bool tenBit = false;
};

class H264TestEncoder {
  public:
    // Null when the library has no libx264 encoder or refuses the options.
    static std::unique_ptr<H264TestEncoder> Create(const EncoderOptions& options);
    ~H264TestEncoder();
    H264TestEncoder(const H264TestEncoder&) = delete;
    H264TestEncoder& operator=(const H264TestEncoder&) = delete;

    // Encodes one picture of the encoder's size; false on any library error.
    bool Encode(const YuvPicture& picture, EncodedFrame* frame);

  private:
    H264TestEncoder() = default;

    struct ContextDeleter {
        void operator()(AVCodecContext* context) const;
    };
    struct FrameDeleter {
        void operator()(AVFrame* frame) const;
    };
    struct PacketDeleter {
        void operator()(AVPacket* packet) const;
    };
    std::unique_ptr<AVCodecContext, ContextDeleter> m_context;
    std::unique_ptr<AVFrame, FrameDeleter> m_frame;
    std::unique_ptr<AVPacket, PacketDeleter> m_packet;
    int64_t m_nextPts = 0;
};

// Encodes the pictures in order with one encoder; empty on failure.
std::vector<EncodedFrame> EncodeSequence(const EncoderOptions& options,
                                         const std::vector<YuvPicture>& pictures);

}  // namespace kavrel::test
