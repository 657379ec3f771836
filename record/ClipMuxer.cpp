#include "record/ClipMuxer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

namespace kavrel::record {
namespace {

constexpr int kIoBufferSize = 64 * 1024;

AVCodecID CodecIdOf(VideoCodec codec) {
    switch (codec) {
        case VideoCodec::kH264:
            return AV_CODEC_ID_H264;
        case VideoCodec::kH265:
            return AV_CODEC_ID_HEVC;
        default:
            return AV_CODEC_ID_NONE;
    }
}

struct ParserDeleter {
    void operator()(AVCodecParserContext* parser) const { av_parser_close(parser); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};

}  // namespace

WriteFailure FailureOfErrno(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return WriteFailure::DiskFull;
        case EACCES:
        case EPERM:
        case EROFS:
        case ENOTDIR:
        case ENOENT:
            return WriteFailure::FolderUnwritable;
        default:
            return WriteFailure::WriteFailed;
    }
}

bool ProbePictureSize(VideoCodec codec, std::span<const uint8_t> keyFrame, int* width,
                      int* height) {
    const AVCodecID id = CodecIdOf(codec);
    if (id == AV_CODEC_ID_NONE || keyFrame.empty())
        return false;
    std::unique_ptr<AVCodecParserContext, ParserDeleter> parser(av_parser_init(id));
    std::unique_ptr<AVCodecContext, CodecContextDeleter> context(avcodec_alloc_context3(nullptr));
    if (!parser || !context)
        return false;
    parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    // The parser reads past the end by up to the padding size.
    std::vector<uint8_t> padded(keyFrame.begin(), keyFrame.end());
    padded.resize(keyFrame.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    uint8_t* out = nullptr;
    int outSize = 0;
    av_parser_parse2(parser.get(), context.get(), &out, &outSize, padded.data(),
                     int(keyFrame.size()), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (parser->width <= 0 || parser->height <= 0)
        return false;
    *width = parser->width;
    *height = parser->height;
    return true;
}

std::unique_ptr<ClipMuxer> ClipMuxer::Create(const std::filesystem::path& path,
                                             const ClipFormat& format, WriteFailure* failure,
                                             int* error) {
    *failure = WriteFailure::WriteFailed;
    *error = 0;
    const AVCodecID id = CodecIdOf(format.codec);
    if (id == AV_CODEC_ID_NONE || format.parameterSets.empty())
        return nullptr;
    std::unique_ptr<ClipMuxer> muxer(new ClipMuxer());
    // O_EXCL: a clip never replaces a file, whatever appeared meanwhile.
    muxer->m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (muxer->m_fd < 0) {
        *error = errno;
        if (*error == EEXIST)
            *failure = WriteFailure::WriteFailed;
        else if (*error == ENOSPC || *error == EDQUOT)
            *failure = WriteFailure::DiskFull;
        else
            *failure = WriteFailure::FolderUnwritable;
        return nullptr;
    }
    const AVOutputFormat* mp4 = av_guess_format("mp4", nullptr, nullptr);
    if (!mp4 || avformat_alloc_output_context2(&muxer->m_context, mp4, nullptr, nullptr) < 0)
        return nullptr;
    AVFormatContext* context = muxer->m_context;
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (!buffer)
        return nullptr;
    context->pb = avio_alloc_context(buffer, kIoBufferSize, 1, muxer.get(), nullptr,
                                     &ClipMuxer::WritePacket, nullptr);
    if (!context->pb) {
        av_free(buffer);
        return nullptr;
    }
    context->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_FLUSH_PACKETS;
    context->flush_packets = 1;

    AVStream* stream = avformat_new_stream(context, nullptr);
    if (!stream)
        return nullptr;
    stream->time_base = AVRational{1, kTimeBase};
    AVCodecParameters* par = stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = id;
    par->width = format.width;
    par->height = format.height;
    par->extradata = static_cast<uint8_t*>(
        av_mallocz(format.parameterSets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata)
        return nullptr;
    std::memcpy(par->extradata, format.parameterSets.data(), format.parameterSets.size());
    par->extradata_size = int(format.parameterSets.size());

    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    const int result = avformat_write_header(context, &options);
    av_dict_free(&options);
    if (!muxer->Check(result)) {
        *failure = muxer->m_failure;
        *error = muxer->m_errno;
        return nullptr;
    }
    muxer->m_wholeBytes = muxer->m_bytes;
    return muxer;
}

ClipMuxer::~ClipMuxer() {
    Close();
}

int ClipMuxer::WritePacket(void* opaque, uint8_t* bytes, int size) {
    auto* self = static_cast<ClipMuxer*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t written = ::write(self->m_fd, bytes + done, size_t(size - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            // A file-size limit refuses the write with EFBIG once the signal
            // it also raises is ignored; a short write of 0 means no space.
            const int error = written < 0 ? errno : ENOSPC;
            if (self->m_errno == 0)
                self->m_errno = error;
            return AVERROR(error);
        }
        done += int(written);
        self->m_bytes += written;
    }
    return size;
}

bool ClipMuxer::Check(int result) {
    if (m_failure != WriteFailure::None)
        return false;
    const int ioError = m_context && m_context->pb ? m_context->pb->error : 0;
    if (result >= 0 && ioError >= 0 && m_errno == 0)
        return true;
    m_failure = m_errno != 0 ? FailureOfErrno(m_errno) : WriteFailure::WriteFailed;
    if (m_failure == WriteFailure::FolderUnwritable)
        m_failure = WriteFailure::WriteFailed;  // the file exists: its folder was writable
    return false;
}

bool ClipMuxer::Write(std::span<const uint8_t> frame, int64_t pts, int64_t duration,
                      bool keyFrame) {
    if (m_failure != WriteFailure::None || !m_context)
        return false;
    AVPacket* packet = av_packet_alloc();
    if (!packet)
        return Check(AVERROR(ENOMEM));
    // The muxer reads the frame and copies what it keeps.
    packet->data = const_cast<uint8_t*>(frame.data());
    packet->size = int(frame.size());
    packet->pts = pts;
    packet->dts = pts;
    packet->duration = duration;
    packet->stream_index = 0;
    if (keyFrame)
        packet->flags |= AV_PKT_FLAG_KEY;
    av_packet_rescale_ts(packet, AVRational{1, kTimeBase}, m_context->streams[0]->time_base);
    const int result = av_write_frame(m_context, packet);
    av_packet_free(&packet);
    if (!Check(result)) {
        // A fragment cut short by a full disk would show frames whose bytes
        // are missing: the file ends after the last whole one instead.
        if (::ftruncate(m_fd, m_wholeBytes) == 0)
            m_bytes = m_wholeBytes;
        return false;
    }
    // Every write is flushed, and the muxer keeps the fragment in progress
    // to itself: what the file holds now ends with a whole fragment.
    m_wholeBytes = m_bytes;
    // A key frame closed the previous fragment: make it survive a power cut.
    if (keyFrame)
        ::fdatasync(m_fd);
    return true;
}

bool ClipMuxer::Finish() {
    if (!m_context)
        return false;
    bool ok = m_failure == WriteFailure::None;
    if (ok)
        ok = Check(av_write_trailer(m_context));
    if (ok) {
        avio_flush(m_context->pb);
        ok = Check(0) && ::fdatasync(m_fd) == 0;
    }
    Close();
    return ok;
}

void ClipMuxer::Close() {
    if (m_context) {
        if (m_context->pb) {
            av_freep(&m_context->pb->buffer);
            avio_context_free(&m_context->pb);
        }
        avformat_free_context(m_context);
        m_context = nullptr;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace kavrel::record
