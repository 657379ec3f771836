#pragma once
// libavcodec's H.264 decoder, straight, for tests that check what kavrel-sim
// sends: one access unit in, at most one picture out (low-delay streams).

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <span>

#include "tools/sim/TestPattern.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace kavrel::test {

class TestH264Decoder {
  public:
    TestH264Decoder();
    ~TestH264Decoder();
    TestH264Decoder(const TestH264Decoder&) = delete;
    TestH264Decoder& operator=(const TestH264Decoder&) = delete;

    bool Ok() const { return m_context != nullptr; }
    // Decodes one frame; true when a picture came out, copied into `out`.
    bool Decode(std::span<const uint8_t> frame, sim::YuvPicture& out);

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
    std::unique_ptr<AVCodecContext, ContextDeleter> m_context;
    std::unique_ptr<AVFrame, FrameDeleter> m_frame;
    std::unique_ptr<AVPacket, PacketDeleter> m_packet;
};

// The decoded picture's four corners match the pattern of `channel`.
::testing::AssertionResult CornersMatch(const sim::YuvPicture& picture, int channel);

}  // namespace kavrel::test
