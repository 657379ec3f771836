#include "tests/tools/TestH264Decoder.h"

#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace kavrel::test {

void TestH264Decoder::ContextDeleter::operator()(AVCodecContext* c) const {
    avcodec_free_context(&c);
}
void TestH264Decoder::FrameDeleter::operator()(AVFrame* f) const {
    av_frame_free(&f);
}
void TestH264Decoder::PacketDeleter::operator()(AVPacket* p) const {
    av_packet_free(&p);
}

TestH264Decoder::TestH264Decoder() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (codec == nullptr)
        return;
    std::unique_ptr<AVCodecContext, ContextDeleter> context(avcodec_alloc_context3(codec));
    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!context || !m_frame || !m_packet)
        return;
    context->thread_count = 1;
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return;
    m_context = std::move(context);
}

TestH264Decoder::~TestH264Decoder() = default;

bool TestH264Decoder::Decode(std::span<const uint8_t> frame, sim::YuvPicture& out) {
    if (!m_context)
        return false;
    // The decoder may read a little past the end: give it zero padding.
    std::vector<uint8_t> padded(frame.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::memcpy(padded.data(), frame.data(), frame.size());
    m_packet->data = padded.data();
    m_packet->size = int(frame.size());
    if (avcodec_send_packet(m_context.get(), m_packet.get()) < 0)
        return false;
    if (avcodec_receive_frame(m_context.get(), m_frame.get()) < 0)
        return false;
    out.Resize(m_frame->width, m_frame->height);
    uint8_t* planes[3] = {out.Y(), out.U(), out.V()};
    for (int p = 0; p < 3; ++p) {
        const int w = p == 0 ? out.width : out.width / 2;
        const int h = p == 0 ? out.height : out.height / 2;
        for (int row = 0; row < h; ++row) {
            std::memcpy(planes[p] + size_t(row) * size_t(w),
                        m_frame->data[p] + row * m_frame->linesize[p], size_t(w));
        }
    }
    av_frame_unref(m_frame.get());
    return true;
}

::testing::AssertionResult CornersMatch(const sim::YuvPicture& picture, int channel) {
    using sim::Corner;
    for (Corner corner :
         {Corner::TopLeft, Corner::TopRight, Corner::BottomLeft, Corner::BottomRight}) {
        const sim::Point at = sim::CornerSampleAt(picture.width, picture.height, corner);
        const sim::Rgb seen = picture.PixelAt(at.x, at.y);
        const sim::Rgb expected = sim::CornerColour(channel, corner);
        if (!sim::ColourNear(seen, expected)) {
            return ::testing::AssertionFailure()
                   << "corner " << int(corner) << " at (" << at.x << "," << at.y << ") of a "
                   << picture.width << "x" << picture.height << " picture is (" << int(seen.r)
                   << "," << int(seen.g) << "," << int(seen.b) << "), channel " << channel
                   << " expects (" << int(expected.r) << "," << int(expected.g) << ","
                   << int(expected.b) << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace kavrel::test
