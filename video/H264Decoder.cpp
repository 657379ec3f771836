#include "video/H264Decoder.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace kavrel {

void DecoderHandle::ContextDeleter::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}

void DecoderHandle::FrameDeleter::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}

void DecoderHandle::PacketDeleter::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}

PlanarLayout PlanarLayoutFor(int width, int height) {
    PlanarLayout layout;
    if (width <= 0 || height <= 0)
        return layout;
    layout.chromaWidth = width / 2;
    layout.chromaHeight = height / 2;
    layout.lumaBytes = size_t(width) * size_t(height);
    layout.chromaBytes = size_t(layout.chromaWidth) * size_t(layout.chromaHeight);
    layout.uOffset = layout.lumaBytes;
    layout.vOffset = layout.lumaBytes + layout.chromaBytes;
    layout.totalBytes = layout.lumaBytes + 2 * layout.chromaBytes;
    return layout;
}

DecoderPtr OpenDecoder() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (codec == nullptr)
        return nullptr;

    DecoderPtr handle(new DecoderHandle);
    handle->decoder = codec;
    handle->context.reset(avcodec_alloc_context3(codec));
    if (!handle->context)
        return nullptr;
    // Defaults only: the picture size and parameter sets come in-band.
    if (avcodec_open2(handle->context.get(), codec, nullptr) < 0)
        return nullptr;
    handle->picture.reset(av_frame_alloc());
    if (!handle->picture)
        return nullptr;
    handle->packet.reset(av_packet_alloc());
    if (!handle->packet)
        return nullptr;
    return handle;
}

namespace {

bool IsPlanar420(const AVFrame& frame) {
    const auto format = static_cast<AVPixelFormat>(frame.format);
    return (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P) &&
           frame.data[0] != nullptr && frame.data[1] != nullptr && frame.data[2] != nullptr &&
           frame.width > 0 && frame.height > 0;
}

void CopyPlane(const uint8_t* source, int lineSize, int rowBytes, int rows, uint8_t* target) {
    for (int row = 0; row < rows; ++row) {
        std::memcpy(target + size_t(row) * size_t(rowBytes),
                    source + ptrdiff_t(row) * ptrdiff_t(lineSize), size_t(rowBytes));
    }
}

void CopyPicture(const AVFrame& frame, uint8_t* output) {
    const PlanarLayout layout = PlanarLayoutFor(frame.width, frame.height);
    CopyPlane(frame.data[0], frame.linesize[0], frame.width, frame.height, output);
    CopyPlane(frame.data[1], frame.linesize[1], layout.chromaWidth, layout.chromaHeight,
              output + layout.uOffset);
    CopyPlane(frame.data[2], frame.linesize[2], layout.chromaWidth, layout.chromaHeight,
              output + layout.vOffset);
}

// Sends the packet; when the decoder still holds an earlier picture that was
// never taken (it refuses new input then), that picture is discarded once so
// that one call never yields more than one picture.
int SendPacket(DecoderHandle& handle) {
    int result = avcodec_send_packet(handle.context.get(), handle.packet.get());
    if (result == AVERROR(EAGAIN)) {
        av_frame_unref(handle.picture.get());
        if (avcodec_receive_frame(handle.context.get(), handle.picture.get()) == 0) {
            av_frame_unref(handle.picture.get());
        }
        result = avcodec_send_packet(handle.context.get(), handle.packet.get());
    }
    return result;
}

}  // namespace

DecodeStatus DecodeFrame(DecoderHandle& handle, const uint8_t* input, int inputLength,
                         uint8_t* output, size_t capacity, int* width, int* height) {
    // An empty packet would mean "end of stream" to the library.
    if (input == nullptr || inputLength <= 0 || !handle.context)
        return DecodeStatus::kFailed;

    AVPacket* packet = handle.packet.get();
    av_packet_unref(packet);
    // Not reference-counted: the library copies the bytes into a padded buffer of its own.
    packet->data = const_cast<uint8_t*>(input);
    packet->size = inputLength;
    const int sent = SendPacket(handle);
    packet->data = nullptr;
    packet->size = 0;
    if (sent < 0)
        return DecodeStatus::kFailed;

    AVFrame* picture = handle.picture.get();
    av_frame_unref(picture);
    if (avcodec_receive_frame(handle.context.get(), picture) < 0)
        return DecodeStatus::kFailed;
    if (!IsPlanar420(*picture)) {
        av_frame_unref(picture);
        return DecodeStatus::kFailed;
    }

    *width = picture->width;
    *height = picture->height;
    if (PlanarLayoutFor(picture->width, picture->height).totalBytes > capacity) {
        return DecodeStatus::kOutputTooSmall;
    }
    CopyPicture(*picture, output);
    av_frame_unref(picture);
    return DecodeStatus::kPicture;
}

bool CopyHeldPicture(DecoderHandle& handle, uint8_t* output, size_t capacity) {
    AVFrame* picture = handle.picture.get();
    if (picture == nullptr || !IsPlanar420(*picture))
        return false;
    if (PlanarLayoutFor(picture->width, picture->height).totalBytes > capacity)
        return false;
    CopyPicture(*picture, output);
    av_frame_unref(picture);
    return true;
}

void CloseDecoder(DecoderPtr& handle) {
    handle.reset();
}

}  // namespace kavrel
