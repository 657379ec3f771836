#pragma once
// An RTSP camera as a stream source: libavformat's RTSP demuxer on a thread
// of its own, its H.264 or H.265 video handed on as Annex B frames.
//
// The URL's forms (credentials, rtsps://, "#udp" for RTP over UDP) are in
// source/RtspAddress.h. Authentication (Basic or Digest) is libavformat's and
// happens within the open, so Login has nothing left to send.
//
// What the listener hears, in this order, on the source's thread:
//   open refused with 401 or 403   OnSourceConnected(true), OnSourceEvent(kLoginRefused)
//   open refused with 404          OnSourceConnected(true), OnSourceEvent(kNotFound)
//   no H.264 or H.265 video        OnSourceConnected(true), OnSourceEvent(kUnsupported)
//   any other failed open          OnSourceConnected(false) (refused connection, name
//                                  lookup, time-out, a stream whose parameter sets
//                                  are malformed)
//   open succeeded                 OnSourceConnected(true), OnSourceEvent(kLoginSucceeded),
//                                  OnStreamFormat, then OnFrame for each access unit
//   the stream ends afterwards     OnSourceLost() (closed, a read error, or no packet
//                                  for kSilenceLimit)
// The login's answer follows OnSourceConnected(true) at once, whether or not
// Login has been called yet; nothing is retried (libavformat sends one
// authenticated request after the server's challenge), so a refused login is
// one attempt. After kLoginRefused or kNotFound the source has ended: only
// Stop remains to be called.
//
// Time-outs: the open (name lookup, connect, TLS, OPTIONS, DESCRIBE, SETUP,
// PLAY) ends after the connect time-out given to Start; reading the first
// pictures for the stream's format, and every later wait for a packet, after
// kSilenceLimit. Stop ends any of them at once (within libavformat's 100 ms
// polling step): an interrupt callback answers 1 from then on, and stays so
// while the demuxer closes, so its TEARDOWN is not waited for.
// A host name is looked up by the source, on a thread it can give up (the
// lookup within libavformat cannot be interrupted), and libavformat connects
// to the address found, IPv4 first; over rtsps:// no server name goes with
// the TLS handshake then.
//
// Sizes: a frame over kMaxPacketBytes is dropped, and the frames after it
// until the next key frame. A picture size beyond kLargestLevelPixels is
// announced as 0 x 0; its key frames still go on, for the decoder to refuse as
// too large as it does for any camera.
//
// The password never reaches a debug line: URLs are shown by RedactUrl, and
// Start lowers libavformat's log level (process-wide) to AV_LOG_ERROR where it
// is above: its debug level prints each request, the Authorization header
// among them, and nothing at AV_LOG_ERROR shows a credential.
//
// Threads: Start, Login and Stop are the owner's (one thread); the listener
// runs on the source's thread. Stop must not be called from a listener call.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "source/AnnexBFrames.h"
#include "source/RtspAddress.h"
#include "source/StreamSource.h"

struct AVFormatContext;

namespace kavrel {

class RtspSource final : public StreamSource {
  public:
    static constexpr std::chrono::seconds kSilenceLimit{5};
    static constexpr size_t kMaxPacketBytes = 8 * 1024 * 1024;

    // `url` as rtsp://... (see RtspAddress.h); `userName` and `password` are
    // the entry's, used when the URL holds no credentials.
    RtspSource(std::u16string_view url, std::u16string_view userName, std::u16string_view password,
               SourceListener* listener);
    RtspSource(std::string_view url, std::string_view userName, std::string_view password,
               SourceListener* listener);
    ~RtspSource() override;

    // False when the URL is not one of the forms above, when it is rtsps://
    // and libavformat has no TLS, or when called twice.
    bool Start(std::chrono::milliseconds connectTimeout) override;
    // True: the login took place in the open.
    bool Login(const SourceLogin& login) override;
    void Stop() override;

  private:
    struct Lookup;

    void Run(std::chrono::milliseconds connectTimeout);
    // The host as a numeric address, looked up so that Stop and the deadline
    // can end the wait; empty when it failed or was given up.
    std::string LookUpHost(std::chrono::steady_clock::time_point deadline);
    // Opens and checks the stream; reports the outcome of the open. False
    // when there is nothing to read.
    bool Open(AVFormatContext*& context, const std::string& url,
              std::chrono::milliseconds connectTimeout);
    void ReadFrames(AVFormatContext* context);
    static int Interrupted(void* self);
    bool Stopping() const { return m_stop.load(std::memory_order_acquire); }

    const std::optional<RtspAddress> m_address;
    SourceListener* const m_listener;

    std::atomic<bool> m_stop{false};
    // When the wait under way gives up; the source's thread alone sets and
    // reads it (libavformat calls Interrupted on the thread that reads).
    std::chrono::steady_clock::time_point m_deadline;
    bool m_timedOut = false;  // the deadline passed: every wait ends from then on
    // The source's thread's: the chosen stream and, until reading begins,
    // the parameter sets of its description.
    int m_streamIndex = -1;
    VideoCodec m_syntax = VideoCodec::kH264;
    std::vector<uint8_t> m_parameterSets;

    // Guards m_lookup: Stop wakes a name lookup's wait through it.
    std::mutex m_mutex;
    std::shared_ptr<Lookup> m_lookup;

    std::thread m_thread;  // the owner's
};

}  // namespace kavrel
