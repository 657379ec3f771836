#include "tests/support/H264TestEncoder.h"

#include <algorithm>
#include <cstring>
#include <random>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace kavrel::test {

YuvPicture YuvPicture::Blank(int width, int height) {
    YuvPicture picture;
    picture.width = width;
    picture.height = height;
    picture.bytes.assign(size_t(width) * height + 2 * size_t(width / 2) * (height / 2), 0);
    return picture;
}

YuvPicture MakeNoisePicture(int width, int height, uint32_t seed) {
    YuvPicture picture = YuvPicture::Blank(width, height);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sample(0, 255);
    for (uint8_t& byte : picture.bytes)
        byte = uint8_t(sample(random));
    return picture;
}

YuvPicture MakeScenePicture(int width, int height, int frameIndex) {
    YuvPicture picture = YuvPicture::Blank(width, height);
    std::mt19937 random(uint32_t(frameIndex) * 7919u + 1u);
    std::uniform_int_distribution<int> grain(-3, 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int value = ((x + frameIndex * 2) / 3 + (y + frameIndex) / 2) % 220 + 16;
            picture.Y()[size_t(y) * width + x] = uint8_t(value + grain(random));
        }
    }
    const int chromaWidth = width / 2;
    for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < chromaWidth; ++x) {
            picture.U()[size_t(y) * chromaWidth + x] =
                uint8_t(128 + (x - y + frameIndex) % 60 - 30);
            picture.V()[size_t(y) * chromaWidth + x] = uint8_t(128 + (x + y) % 50 - 25);
        }
    }
    return picture;
}

void H264TestEncoder::ContextDeleter::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}
void H264TestEncoder::FrameDeleter::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}
void H264TestEncoder::PacketDeleter::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}

H264TestEncoder::~H264TestEncoder() = default;

std::unique_ptr<H264TestEncoder> H264TestEncoder::Create(const EncoderOptions& options) {
    const AVCodec* codec = avcodec_find_encoder_by_name(options.encoder.c_str());
    if (codec == nullptr)
        return nullptr;
    // The encoder's statistics lines would bury the test output.
    if (av_log_get_level() > AV_LOG_ERROR)
        av_log_set_level(AV_LOG_ERROR);

    std::unique_ptr<H264TestEncoder> encoder(new H264TestEncoder);
    encoder->m_context.reset(avcodec_alloc_context3(codec));
    AVCodecContext* context = encoder->m_context.get();
    if (context == nullptr)
        return nullptr;
    context->width = options.width;
    context->height = options.height;
    const AVPixelFormat format = options.fullChroma ? AV_PIX_FMT_YUV444P
                                 : options.tenBit   ? AV_PIX_FMT_YUV420P10LE
                                                    : AV_PIX_FMT_YUV420P;
    context->pix_fmt = format;
    context->time_base = AVRational{1, options.frameRate};
    context->framerate = AVRational{options.frameRate, 1};
    context->gop_size = options.gopSize;
    context->max_b_frames = 0;
    // One thread keeps the output deterministic and the sanitizer builds quiet.
    context->thread_count = 1;
    av_opt_set(context->priv_data, "preset", options.preset.c_str(), 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    if (!options.profile.empty())
        av_opt_set(context->priv_data, "profile", options.profile.c_str(), 0);
    if (options.qp >= 0)
        av_opt_set_int(context->priv_data, "qp", options.qp, 0);
    if (options.encoder == "libx265") {
        av_opt_set_int(context->priv_data, "forced-idr", 1, 0);
        av_opt_set(context->priv_data, "x265-params",
                   options.qp == 0 ? "log-level=error:lossless=1" : "log-level=error", 0);
    }
    if (avcodec_open2(context, codec, nullptr) < 0)
        return nullptr;

    encoder->m_frame.reset(av_frame_alloc());
    encoder->m_packet.reset(av_packet_alloc());
    if (!encoder->m_frame || !encoder->m_packet)
        return nullptr;
    AVFrame* frame = encoder->m_frame.get();
    frame->format = format;
    frame->width = options.width;
    frame->height = options.height;
    if (av_frame_get_buffer(frame, 0) < 0)
        return nullptr;
    return encoder;
}

bool H264TestEncoder::Encode(const YuvPicture& picture, EncodedFrame* encoded) {
    AVCodecContext* context = m_context.get();
    AVFrame* frame = m_frame.get();
    if (picture.width != context->width || picture.height != context->height)
        return false;
    if (av_frame_make_writable(frame) < 0)
        return false;

    const int chromaWidth = picture.width / 2;
    if (frame->format == AV_PIX_FMT_YUV420P10LE) {
        const uint8_t* planes[3] = {picture.Y(), picture.U(), picture.V()};
        for (int p = 0; p < 3; ++p) {
            const int width = p == 0 ? picture.width : chromaWidth;
            const int height = p == 0 ? picture.height : picture.height / 2;
            for (int y = 0; y < height; ++y) {
                auto* row =
                    reinterpret_cast<uint16_t*>(frame->data[p] + ptrdiff_t(y) * frame->linesize[p]);
                for (int x = 0; x < width; ++x)
                    row[x] = uint16_t(planes[p][size_t(y) * width + x] << 2);
            }
        }
    }
    for (int y = 0; frame->format != AV_PIX_FMT_YUV420P10LE && y < picture.height; ++y) {
        std::memcpy(frame->data[0] + ptrdiff_t(y) * frame->linesize[0],
                    picture.Y() + size_t(y) * picture.width, size_t(picture.width));
    }
    if (frame->format == AV_PIX_FMT_YUV444P) {
        for (int y = 0; y < picture.height; ++y) {
            for (int x = 0; x < picture.width; ++x) {
                const size_t at = size_t(std::min(y / 2, picture.height / 2 - 1)) * chromaWidth +
                                  size_t(std::min(x / 2, chromaWidth - 1));
                frame->data[1][ptrdiff_t(y) * frame->linesize[1] + x] = picture.U()[at];
                frame->data[2][ptrdiff_t(y) * frame->linesize[2] + x] = picture.V()[at];
            }
        }
    } else if (frame->format == AV_PIX_FMT_YUV420P) {
        for (int y = 0; y < picture.height / 2; ++y) {
            std::memcpy(frame->data[1] + ptrdiff_t(y) * frame->linesize[1],
                        picture.U() + size_t(y) * chromaWidth, size_t(chromaWidth));
            std::memcpy(frame->data[2] + ptrdiff_t(y) * frame->linesize[2],
                        picture.V() + size_t(y) * chromaWidth, size_t(chromaWidth));
        }
    }
    frame->pts = m_nextPts++;

    if (avcodec_send_frame(context, frame) < 0)
        return false;
    AVPacket* packet = m_packet.get();
    if (avcodec_receive_packet(context, packet) < 0)
        return false;
    encoded->bytes.assign(packet->data, packet->data + packet->size);
    encoded->keyFrame = (packet->flags & AV_PKT_FLAG_KEY) != 0;
    av_packet_unref(packet);
    return true;
}

std::vector<EncodedFrame> EncodeSequence(const EncoderOptions& options,
                                         const std::vector<YuvPicture>& pictures) {
    std::vector<EncodedFrame> frames;
    auto encoder = H264TestEncoder::Create(options);
    if (!encoder)
        return frames;
    for (const YuvPicture& picture : pictures) {
        EncodedFrame frame;
        if (!encoder->Encode(picture, &frame))
            return {};
        frames.push_back(std::move(frame));
    }
    return frames;
}

}  // namespace kavrel::test
