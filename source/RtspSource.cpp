#include "source/RtspSource.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "platform/DebugSink.h"
#include "platform/TextCodec.h"
#include "source/AnnexBFrames.h"
#include "video/H264Decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace kavrel {
namespace {

// Name lookups of RTSP sources whose threads have not ended, given up on or not.
constexpr int kMaxRunningLookups = 4;
std::atomic<int> g_runningLookups{0};

using Clock = std::chrono::steady_clock;

// What the stream's format is read from: enough for the parameter sets and a
// frame rate, little enough that the first picture is not held back.
constexpr int64_t kProbeBytes = 1024 * 1024;
constexpr int64_t kAnalyzeMicroseconds = 500'000;
// A larger kernel buffer for RTP over UDP: a key frame comes as a burst.
constexpr int kUdpBufferBytes = 2 * 1024 * 1024;

struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

std::string ErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

bool IsNumericHost(const std::string& host) {
    in6_addr address{};
    return ::inet_pton(AF_INET, host.c_str(), &address) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), &address) == 1;
}

// The demuxer's debug level prints each request it sends, the Authorization
// header among them; nothing at AV_LOG_ERROR or below shows a credential.
void QuietLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (av_log_get_level() > AV_LOG_ERROR)
            av_log_set_level(AV_LOG_ERROR);
    });
}

// Whether this libavformat was built with TLS, which rtsps:// needs.
bool HasTls() {
    void* opaque = nullptr;
    while (const char* name = avio_enum_protocols(&opaque, 0)) {
        if (std::string_view(name) == "tls")
            return true;
    }
    return false;
}

}  // namespace

// A name lookup under way. getaddrinfo cannot be interrupted, so it runs on a
// thread that nobody waits for: the source gives it up at Stop or at its
// deadline, and the thread ends by itself later. `mutex` guards the rest.
struct RtspSource::Lookup {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::string address;  // numeric; empty when the name was not found
};

RtspSource::RtspSource(std::u16string_view url, std::u16string_view userName,
                       std::u16string_view password, SourceListener* listener)
    : RtspSource(ToUtf8(url), ToUtf8(userName), ToUtf8(password), listener) {}

RtspSource::RtspSource(std::string_view url, std::string_view userName, std::string_view password,
                       SourceListener* listener)
    : m_address(ParseRtspAddress(url, userName, password)), m_listener(listener) {}

RtspSource::~RtspSource() {
    Stop();
}

bool RtspSource::Start(std::chrono::milliseconds connectTimeout) {
    if (!m_address || m_thread.joinable() || Stopping())
        return false;
    if (m_address->url.starts_with("rtsps:") && !HasTls()) {
        DebugOutput("RTSP " + m_address->shownUrl + ": this build has no TLS\n");
        return false;
    }
    QuietLibraryLog();
    m_thread = std::thread(&RtspSource::Run, this, connectTimeout);
    return true;
}

bool RtspSource::Login(const SourceLogin& /*login*/) {
    return true;
}

void RtspSource::Stop() {
    m_stop.store(true, std::memory_order_release);
    {
        std::lock_guard lock(m_mutex);
        if (m_lookup) {
            // Under its mutex, so the wait cannot miss the flag just set.
            std::lock_guard lookupLock(m_lookup->mutex);
            m_lookup->finished.notify_all();
        }
    }
    if (m_thread.joinable())
        m_thread.join();
}

int RtspSource::Interrupted(void* opaque) {
    auto* self = static_cast<RtspSource*>(opaque);
    if (self->Stopping())
        return 1;
    if (Clock::now() >= self->m_deadline)
        self->m_timedOut = true;
    return self->m_timedOut ? 1 : 0;
}

void RtspSource::Run(std::chrono::milliseconds connectTimeout) {
    const auto openDeadline = Clock::now() + connectTimeout;
    std::string url = m_address->url;
    if (!IsNumericHost(m_address->host)) {
        const std::string numeric = LookUpHost(openDeadline);
        if (Stopping())
            return;
        if (numeric.empty()) {
            DebugOutput("RTSP " + m_address->shownUrl + ": the host name was not found\n");
            m_listener->OnSourceConnected(false);
            return;
        }
        url = WithHost(*m_address, numeric);
    }
    m_deadline = openDeadline;
    AVFormatContext* context = nullptr;
    if (Open(context, url, connectTimeout))
        ReadFrames(context);
    // The demuxer's TEARDOWN is not waited for: every wait of the close ends at once.
    m_timedOut = true;
    avformat_close_input(&context);
}

std::string RtspSource::LookUpHost(Clock::time_point deadline) {
    // A resolver that never answers must not pile up threads: one whose
    // deadline passed goes on by itself, so at most this many run at once
    // across every RTSP source (a lookup beyond them fails, and the session's
    // back-off tries again).
    int running = g_runningLookups.load();
    do {
        if (running >= kMaxRunningLookups) {
            DebugOutput("RTSP " + m_address->shownUrl + ": too many name lookups under way\n");
            return {};
        }
    } while (!g_runningLookups.compare_exchange_weak(running, running + 1));
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host = m_address->host] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_flags = AI_ADDRCONFIG;
            addrinfo* found = nullptr;
            std::string address;
            if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0) {
                // One address goes to libavformat, which then cannot fall
                // back to another: IPv4 first, as most cameras have it.
                const addrinfo* chosen = found;
                for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
                    if (a->ai_family == AF_INET) {
                        chosen = a;
                        break;
                    }
                }
                char text[NI_MAXHOST] = {};
                if (::getnameinfo(chosen->ai_addr, chosen->ai_addrlen, text, sizeof text, nullptr,
                                  0, NI_NUMERICHOST) == 0)
                    address = text;
                ::freeaddrinfo(found);
            }
            {
                std::lock_guard lock(lookup->mutex);
                lookup->address = std::move(address);
                lookup->done = true;
                lookup->finished.notify_all();
            }
            g_runningLookups.fetch_sub(1);
        }).detach();
    } catch (const std::system_error&) {
        g_runningLookups.fetch_sub(1);
        return {};
    }
    {
        std::lock_guard lock(m_mutex);
        m_lookup = lookup;
    }
    std::string address;
    {
        std::unique_lock lock(lookup->mutex);
        lookup->finished.wait_until(lock, deadline, [&] { return lookup->done || Stopping(); });
        if (lookup->done)
            address = lookup->address;
    }
    std::lock_guard lock(m_mutex);
    m_lookup.reset();
    return address;
}

bool RtspSource::Open(AVFormatContext*& context, const std::string& url,
                      std::chrono::milliseconds connectTimeout) {
    context = avformat_alloc_context();
    if (context == nullptr) {
        m_listener->OnSourceConnected(false);
        return false;
    }
    context->interrupt_callback.callback = &RtspSource::Interrupted;
    context->interrupt_callback.opaque = this;

    AVDictionary* options = nullptr;
    av_dict_set(&options, "rtsp_transport", m_address->udp ? "udp" : "tcp", 0);
    av_dict_set(&options, "allowed_media_types", "video", 0);
    // The socket's time-out stays with the connection: the longer of the two,
    // each phase's own deadline being Interrupted's.
    const auto socketTimeout =
        std::max<std::chrono::microseconds>(connectTimeout, std::chrono::seconds(kSilenceLimit));
    av_dict_set_int(&options, "timeout", socketTimeout.count(), 0);
    av_dict_set_int(&options, "probesize", kProbeBytes, 0);
    av_dict_set_int(&options, "analyzeduration", kAnalyzeMicroseconds, 0);
    if (m_address->udp)
        av_dict_set_int(&options, "buffer_size", kUdpBufferBytes, 0);
    const int opened =
        avformat_open_input(&context, url.c_str(), av_find_input_format("rtsp"), &options);
    av_dict_free(&options);
    if (Stopping())
        return false;
    if (opened < 0) {
        DebugOutput("RTSP " + m_address->shownUrl + ": open failed: " +
                    (m_timedOut ? std::string("timed out") : ErrorText(opened)) + "\n");
        if (opened == AVERROR_HTTP_UNAUTHORIZED || opened == AVERROR_HTTP_FORBIDDEN ||
            opened == AVERROR_HTTP_NOT_FOUND) {
            m_listener->OnSourceConnected(true);
            m_listener->OnSourceEvent(opened == AVERROR_HTTP_NOT_FOUND
                                          ? SourceEvent::kNotFound
                                          : SourceEvent::kLoginRefused);
        } else {
            m_listener->OnSourceConnected(false);
        }
        return false;
    }

    auto fail = [&](const std::string& why) {
        DebugOutput("RTSP " + m_address->shownUrl + ": " + why + "\n");
        m_listener->OnSourceConnected(false);
        return false;
    };
    m_deadline = Clock::now() + kSilenceLimit;
    const int probed = avformat_find_stream_info(context, nullptr);
    if (Stopping())
        return false;
    if (probed < 0 || m_timedOut)
        return fail("no stream information: " +
                    (m_timedOut ? std::string("timed out") : ErrorText(probed)));
    m_streamIndex = -1;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        if (context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            m_streamIndex = int(i);
            break;
        }
    }
    // A stream without video we can decode stays so: said once, not retried.
    auto unsupported = [&](const std::string& why) {
        DebugOutput("RTSP " + m_address->shownUrl + ": " + why + "\n");
        m_listener->OnSourceConnected(true);
        m_listener->OnSourceEvent(SourceEvent::kUnsupported);
        return false;
    };
    if (m_streamIndex < 0)
        return unsupported("no video stream");
    AVStream* const stream = context->streams[m_streamIndex];
    const AVCodecParameters* const parameters = stream->codecpar;
    if (parameters->codec_id != AV_CODEC_ID_H264 && parameters->codec_id != AV_CODEC_ID_HEVC)
        return unsupported(std::string("the video is ") + avcodec_get_name(parameters->codec_id) +
                           ", not H.264 or H.265");
    m_syntax = parameters->codec_id == AV_CODEC_ID_H264 ? VideoCodec::kH264 : VideoCodec::kH265;
    auto parameterSets = ExtradataToAnnexB(
        m_syntax, parameters->extradata,
        parameters->extradata ? size_t(std::max(0, parameters->extradata_size)) : 0);
    if (!parameterSets)
        return fail("malformed parameter sets in the stream description");
    m_parameterSets = std::move(*parameterSets);

    int width = parameters->width;
    int height = parameters->height;
    if (width <= 0 || height <= 0 || width > UINT16_MAX || height > UINT16_MAX ||
        uint64_t(width) * uint64_t(height) > kLargestLevelPixels) {
        DebugOutput("RTSP " + m_address->shownUrl + ": picture size " + std::to_string(width) +
                    "x" + std::to_string(height) + " not announced\n");
        width = height = 0;
    }
    const AVRational rate = av_guess_frame_rate(context, stream, nullptr);
    const double fps = rate.den > 0 ? double(rate.num) / rate.den : 0.0;
    const auto framesPerSecond = uint8_t(std::clamp(std::lround(fps), 0L, 255L));
    const int64_t bitRate = parameters->bit_rate > 0 ? parameters->bit_rate : context->bit_rate;
    const auto bitsPerSecond = uint32_t(std::clamp<int64_t>(bitRate, 0, UINT32_MAX));

    m_listener->OnSourceConnected(true);
    m_listener->OnSourceEvent(SourceEvent::kLoginSucceeded);
    m_listener->OnStreamFormat(
        StreamFormatInfo::Make(uint16_t(width), uint16_t(height), framesPerSecond, bitsPerSecond),
        m_syntax);
    return true;
}

void RtspSource::ReadFrames(AVFormatContext* context) {
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    if (!packet) {
        m_listener->OnSourceLost();
        return;
    }
    KeyFramePrefixer prefixer(m_syntax, std::move(m_parameterSets));
    // After a dropped frame the ones that refer to it are of no use.
    bool awaitKeyFrame = false;
    for (;;) {
        m_deadline = Clock::now() + kSilenceLimit;
        const int read = av_read_frame(context, packet.get());
        if (Stopping())
            return;
        // A read that timed out may still return a frame: the parser's last
        // one, flushed as at the end of a file.
        if (read < 0 || m_timedOut) {
            DebugOutput("RTSP " + m_address->shownUrl + ": stream ended: " +
                        (m_timedOut ? std::string("no data") : ErrorText(read)) + "\n");
            m_listener->OnSourceLost();
            return;
        }
        const auto arrival = Clock::now();
        const AVPacket& p = *packet;
        if (p.stream_index == m_streamIndex && p.data != nullptr && p.size > 0) {
            if (size_t(p.size) > kMaxPacketBytes) {
                DebugOutput("RTSP " + m_address->shownUrl + ": frame of " + std::to_string(p.size) +
                            " bytes dropped\n");
                awaitKeyFrame = true;
            } else {
                const auto frame =
                    prefixer.Prepare(p.data, size_t(p.size), (p.flags & AV_PKT_FLAG_KEY) != 0);
                if (frame.keyFrame)
                    awaitKeyFrame = false;
                if (!awaitKeyFrame)
                    m_listener->OnFrame(frame.bytes, int(frame.length), frame.keyFrame, arrival);
            }
        }
        av_packet_unref(packet.get());
    }
}

}  // namespace kavrel
