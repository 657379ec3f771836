#pragma once
// libx264 (or libx265) through libavcodec, set for live streaming: no B-frames, no
// look-ahead, one packet out per picture in, a key frame every `gop` frames or
// on request, and a VBV limit that keeps every frame well inside one record
// (a record's length is 16 bits). Single-threaded; one per session.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/sim/TestPattern.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace kavrel::sim {

// One encoded picture: an H.264 access unit in Annex B form (start codes kept).
struct EncodedFrame {
    std::vector<uint8_t> bytes;
    bool key = false;  // an IDR picture the decoder can start from
};

class H264Encoder {
  public:
    struct Settings {
        int width = 0;
        int height = 0;
        int fps = 25;
        int bitRate = 512000;  // bits per second; also the VBV rate
        int gop = 50;
        bool h265 = false;  // libx265 instead of libx264
    };

    // The VBV buffer is at most this many bytes, so frames stay below it (the
    // rate control may overshoot a little; a record holds 65535).
    static constexpr int kFrameBudgetBytes = 48000;

    H264Encoder();
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    // Opens (or reopens) the encoder. False with a reason when libx264 is
    // missing or refuses the settings.
    bool Open(const Settings& settings, std::string& error);
    const Settings& Current() const { return m_settings; }

    // Encodes one picture of the opened size; `forceKey` makes it an IDR frame.
    // False with a reason on an encoder failure.
    bool Encode(const YuvPicture& picture, bool forceKey, EncodedFrame& out, std::string& error);

  private:
    struct ContextDeleter {
        void operator()(AVCodecContext* c) const;
    };
    struct FrameDeleter {
        void operator()(AVFrame* f) const;
    };
    struct PacketDeleter {
        void operator()(AVPacket* p) const;
    };

    Settings m_settings;
    std::unique_ptr<AVCodecContext, ContextDeleter> m_context;
    std::unique_ptr<AVFrame, FrameDeleter> m_frame;
    std::unique_ptr<AVPacket, PacketDeleter> m_packet;
    int64_t m_pts = 0;
};

}  // namespace kavrel::sim
