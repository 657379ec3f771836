#include "video/H264Decoder.h"

#include <algorithm>
#include <climits>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
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

void DecoderHandle::ScalerDeleter::operator()(SwsContext* scaler) const {
    sws_freeContext(scaler);
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

PlanarPicture PackedPicture(const uint8_t* planar, int width, int height) {
    const PlanarLayout layout = PlanarLayoutFor(width, height);
    if (planar == nullptr || layout.totalBytes == 0)
        return {};
    return PlanarPicture{planar,
                         planar + layout.uOffset,
                         planar + layout.vOffset,
                         width,
                         layout.chromaWidth,
                         layout.chromaWidth,
                         width,
                         height};
}

namespace {

// A context for `codec` with the library's defaults and the picture limit.
void ApplySkipping(AVCodecContext& context, DecoderSkipping skipping) {
    context.skip_loop_filter = skipping.loopFilter ? AVDISCARD_ALL : AVDISCARD_DEFAULT;
    context.skip_frame = skipping.nonKeyFrames ? AVDISCARD_NONKEY : AVDISCARD_DEFAULT;
}

std::unique_ptr<AVCodecContext, DecoderHandle::ContextDeleter> OpenContext(
    const AVCodec* codec, uint64_t maxPixels, DecoderSkipping skipping = {}) {
    std::unique_ptr<AVCodecContext, DecoderHandle::ContextDeleter> context(
        avcodec_alloc_context3(codec));
    if (!context)
        return nullptr;
    // The library checks its limit only when it allocates the picture, after
    // its per-macroblock tables; the wrapper's own check comes before both.
    // The library counts rows padded to 64 samples: a quarter more keeps it
    // from refusing a picture (256 samples wide or more) that the wrapper accepts.
    const int64_t limit = int64_t(std::min<uint64_t>(maxPixels + maxPixels / 4, INT_MAX));
    context->max_pixels = limit;
    context->max_samples = limit;
    // Defaults otherwise: the picture size and parameter sets come in-band.
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return nullptr;
    ApplySkipping(*context, skipping);
    return context;
}

AVCodecID LibraryId(VideoCodec codec) {
    return codec == VideoCodec::kH265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
}

// Replaces the context by one for `codec`. On failure the old one stays.
bool Reopen(DecoderHandle& handle, VideoCodec codec) {
    const AVCodec* library = avcodec_find_decoder(LibraryId(codec));
    if (library == nullptr)
        return false;
    auto context = OpenContext(library, handle.maxPixels, handle.skipping);
    if (!context)
        return false;
    av_frame_unref(handle.picture.get());
    handle.context = std::move(context);
    handle.decoder = library;
    handle.codec = codec;
    return true;
}

}  // namespace

DecoderPtr OpenDecoder(uint64_t maxPixels) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (codec == nullptr)
        return nullptr;

    DecoderPtr handle(new DecoderHandle);
    handle->decoder = codec;
    handle->maxPixels = maxPixels;
    handle->context = OpenContext(codec, maxPixels);
    if (!handle->context)
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

PlanarPicture ViewOf(const AVFrame& frame) {
    return PlanarPicture{frame.data[0],     frame.data[1],     frame.data[2], frame.linesize[0],
                         frame.linesize[1], frame.linesize[2], frame.width,   frame.height};
}

void CopyPlane(const uint8_t* source, ptrdiff_t lineSize, int rowBytes, int rows, uint8_t* target) {
    for (int row = 0; row < rows; ++row) {
        std::memcpy(target + size_t(row) * size_t(rowBytes), source + ptrdiff_t(row) * lineSize,
                    size_t(rowBytes));
    }
}

void CopyPicture(const PlanarPicture& picture, uint8_t* output) {
    const PlanarLayout layout = PlanarLayoutFor(picture.width, picture.height);
    CopyPlane(picture.y, picture.yStride, picture.width, picture.height, output);
    CopyPlane(picture.u, picture.uStride, layout.chromaWidth, layout.chromaHeight,
              output + layout.uOffset);
    CopyPlane(picture.v, picture.vStride, layout.chromaWidth, layout.chromaHeight,
              output + layout.vOffset);
}

// Converts the received picture of another layout into handle.converted.
bool ConvertTo420(DecoderHandle& handle) {
    const AVFrame& source = *handle.picture;
    const auto format = static_cast<AVPixelFormat>(source.format);
    if (format == AV_PIX_FMT_NONE || source.data[0] == nullptr || source.width <= 0 ||
        source.height <= 0)
        return false;
    handle.scaler.reset(sws_getCachedContext(
        handle.scaler.release(), source.width, source.height, format, source.width, source.height,
        AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!handle.scaler)
        return false;
    if (!handle.converted) {
        handle.converted.reset(av_frame_alloc());
        if (!handle.converted)
            return false;
    }
    AVFrame& target = *handle.converted;
    if (target.width != source.width || target.height != source.height ||
        target.data[0] == nullptr) {
        av_frame_unref(&target);
        target.format = AV_PIX_FMT_YUV420P;
        target.width = source.width;
        target.height = source.height;
        if (av_frame_get_buffer(&target, 0) < 0)
            return false;
    }
    return sws_scale(handle.scaler.get(), source.data, source.linesize, 0, source.height,
                     target.data, target.linesize) > 0;
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

namespace {

// Sends one frame and receives its picture into the handle, as 8-bit 4:2:0:
// the decoder's own or its conversion. False when no usable picture came.
bool Receive(DecoderHandle& handle, const uint8_t* input, int inputLength) {
    // An empty packet would mean "end of stream" to the library.
    if (input == nullptr || inputLength <= 0 || !handle.context)
        return false;
    // A key frame of the other codec: the context follows the stream. When
    // that fails the frame fails, and the next key frame tries again.
    const VideoCodec found = DetectCodec(input, size_t(inputLength));
    if (found != VideoCodec::kUnknown && found != handle.codec && !Reopen(handle, found))
        return false;
    if (AnnouncedPixels(handle.codec, input, size_t(inputLength)) > handle.maxPixels)
        return false;

    AVPacket* packet = handle.packet.get();
    av_packet_unref(packet);
    // Not reference-counted: the library copies the bytes into a padded buffer of its own.
    packet->data = const_cast<uint8_t*>(input);
    packet->size = inputLength;
    const int sent = SendPacket(handle);
    packet->data = nullptr;
    packet->size = 0;
    if (sent < 0)
        return false;

    AVFrame* picture = handle.picture.get();
    av_frame_unref(picture);
    if (avcodec_receive_frame(handle.context.get(), picture) < 0)
        return false;
    if (!IsPlanar420(*picture) && !ConvertTo420(handle)) {
        av_frame_unref(picture);
        return false;
    }
    return true;
}

}  // namespace

PlanarPicture HeldPicture(const DecoderHandle& handle) {
    const AVFrame* picture = handle.picture.get();
    if (picture == nullptr || picture->data[0] == nullptr)
        return {};
    if (IsPlanar420(*picture))
        return ViewOf(*picture);
    const AVFrame* converted = handle.converted.get();
    if (converted == nullptr || converted->width != picture->width ||
        converted->height != picture->height)
        return {};
    return ViewOf(*converted);
}

DecodeStatus DecodeToPicture(DecoderHandle& handle, const uint8_t* input, int inputLength,
                             PlanarPicture* picture) {
    if (!Receive(handle, input, inputLength))
        return DecodeStatus::kFailed;
    *picture = HeldPicture(handle);
    return picture->IsEmpty() ? DecodeStatus::kFailed : DecodeStatus::kPicture;
}

DecodeStatus DecodeFrame(DecoderHandle& handle, const uint8_t* input, int inputLength,
                         uint8_t* output, size_t capacity, int* width, int* height) {
    if (!Receive(handle, input, inputLength))
        return DecodeStatus::kFailed;
    const PlanarPicture picture = HeldPicture(handle);
    *width = picture.width;
    *height = picture.height;
    if (PlanarLayoutFor(picture.width, picture.height).totalBytes > capacity)
        return DecodeStatus::kOutputTooSmall;
    CopyPicture(picture, output);
    av_frame_unref(handle.picture.get());
    return DecodeStatus::kPicture;
}

bool CopyHeldPicture(DecoderHandle& handle, uint8_t* output, size_t capacity) {
    const PlanarPicture picture = HeldPicture(handle);
    if (picture.IsEmpty())
        return false;
    if (PlanarLayoutFor(picture.width, picture.height).totalBytes > capacity)
        return false;
    CopyPicture(picture, output);
    av_frame_unref(handle.picture.get());
    return true;
}

void SetSkipping(DecoderHandle& handle, DecoderSkipping skipping) {
    if (skipping == handle.skipping)
        return;
    handle.skipping = skipping;
    if (handle.context)
        ApplySkipping(*handle.context, skipping);
}

void CloseDecoder(DecoderPtr& handle) {
    handle.reset();
}

}  // namespace kavrel
