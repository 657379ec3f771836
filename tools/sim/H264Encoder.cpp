#include "tools/sim/H264Encoder.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
}

namespace kavrel::sim {
namespace {

std::string AvError(const char* what, int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return std::string(what) + ": " + text;
}

}  // namespace

void H264Encoder::ContextDeleter::operator()(AVCodecContext* c) const {
    avcodec_free_context(&c);
}
void H264Encoder::FrameDeleter::operator()(AVFrame* f) const {
    av_frame_free(&f);
}
void H264Encoder::PacketDeleter::operator()(AVPacket* p) const {
    av_packet_free(&p);
}

H264Encoder::H264Encoder() = default;
H264Encoder::~H264Encoder() = default;

bool H264Encoder::Open(const Settings& settings, std::string& error) {
    m_context.reset();
    const char* const name = settings.h265 ? "libx265" : "libx264";
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (codec == nullptr) {
        error = std::string("libavcodec has no ").append(name).append(" encoder");
        return false;
    }
    std::unique_ptr<AVCodecContext, ContextDeleter> context(avcodec_alloc_context3(codec));
    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!context || !m_frame || !m_packet) {
        error = "out of memory for the encoder";
        return false;
    }
    context->width = settings.width;
    context->height = settings.height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, settings.fps};
    context->framerate = AVRational{settings.fps, 1};
    context->gop_size = settings.gop;
    context->keyint_min = settings.gop;
    context->max_b_frames = 0;
    context->thread_count = 1;
    context->bit_rate = settings.bitRate;
    context->rc_max_rate = settings.bitRate;
    context->rc_buffer_size = std::min(settings.bitRate, kFrameBudgetBytes * 8);
    av_opt_set(context->priv_data, "preset", "veryfast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    // A requested key frame is an IDR picture a decoder can start from; no key
    // frames other than the GOP's and the requested ones.
    av_opt_set(context->priv_data, "forced-idr", "1", 0);
    if (settings.h265) {
        // Parameter sets in front of every key frame (no global header), as a camera sends them.
        av_opt_set(context->priv_data, "x265-params", "scenecut=0:log-level=error:repeat-headers=1",
                   0);
    } else {
        av_opt_set(context->priv_data, "x264-params", "scenecut=0", 0);
    }

    if (const int rc = avcodec_open2(context.get(), codec, nullptr); rc < 0) {
        error = AvError(std::string("cannot open ").append(name).c_str(), rc);
        return false;
    }
    m_frame->format = AV_PIX_FMT_YUV420P;
    m_frame->width = settings.width;
    m_frame->height = settings.height;
    if (const int rc = av_frame_get_buffer(m_frame.get(), 0); rc < 0) {
        error = AvError("cannot allocate the encoder's picture", rc);
        return false;
    }
    m_context = std::move(context);
    m_settings = settings;
    m_pts = 0;
    return true;
}

bool H264Encoder::Encode(const YuvPicture& picture, bool forceKey, EncodedFrame& out,
                         std::string& error) {
    out.bytes.clear();
    out.key = false;
    if (!m_context || picture.width != m_settings.width || picture.height != m_settings.height) {
        error = "encoder not open for this picture size";
        return false;
    }
    if (const int rc = av_frame_make_writable(m_frame.get()); rc < 0) {
        error = AvError("encoder picture not writable", rc);
        return false;
    }
    const uint8_t* planes[3] = {picture.Y(), picture.U(), picture.V()};
    for (int p = 0; p < 3; ++p) {
        const int w = p == 0 ? picture.width : picture.width / 2;
        const int h = p == 0 ? picture.height : picture.height / 2;
        for (int row = 0; row < h; ++row) {
            std::memcpy(m_frame->data[p] + row * m_frame->linesize[p], planes[p] + row * w,
                        size_t(w));
        }
    }
    m_frame->pts = m_pts++;
    m_frame->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (const int rc = avcodec_send_frame(m_context.get(), m_frame.get()); rc < 0) {
        error = AvError("encoding failed", rc);
        return false;
    }
    while (true) {
        const int rc = avcodec_receive_packet(m_context.get(), m_packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            break;
        if (rc < 0) {
            error = AvError("encoding failed", rc);
            return false;
        }
        out.bytes.insert(out.bytes.end(), m_packet->data, m_packet->data + m_packet->size);
        out.key = out.key || (m_packet->flags & AV_PKT_FLAG_KEY) != 0;
        av_packet_unref(m_packet.get());
    }
    return true;
}

}  // namespace kavrel::sim
