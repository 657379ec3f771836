#pragma once
// Where a viewing session's pictures come from: a server of the camera
// protocol (ProtocolSource) or an RTSP stream (RtspSource). The session owns
// one source per connection and knows only this interface; the pipeline, the
// reconnection, the statistics and the recording above it are the same for
// every kind of camera.
//
// Threads: the owner (the user-interface thread) calls every operation of a
// source. The source calls its listener on a thread of its own, one call at a
// time, in the order things happen, and never after Stop (or the destructor)
// has returned. A listener must not wait there for the owner's thread: it
// posts what it has to do and returns.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/WireFormat.h"
#include "video/StreamCodec.h"

namespace kavrel {

// What the far end said about the login.
// Which of a camera's streams a source plays, where it has two: its main
// stream (the most pixels) for a large picture, its sub stream (the fewest)
// for a wall tile.
enum class StreamSize { kMain, kSub };

enum class SourceEvent {
    kLoginSucceeded,  // pictures may follow
    kLoginRefused,    // a wrong user or password (a refused login, RTSP 401 and 403)
    kNotFound,        // no such stream (RTSP 404); retrying cannot help
    kUnsupported,     // no H.264 or H.265 video in the stream; nor can retrying
    kUseLegacy,       // the camera protocol's server wants the legacy dialect
    kUseCurrent,      // ... or the current one
};

class SourceListener {
  public:
    SourceListener() = default;
    SourceListener(const SourceListener&) = delete;
    SourceListener& operator=(const SourceListener&) = delete;

    // The outcome of Start: the connection (for a stream: the opened
    // stream) is there, or it could not be made.
    virtual void OnSourceConnected(bool connected) = 0;
    virtual void OnSourceEvent(SourceEvent event) = 0;
    // How many channels the server has (only a camera protocol server says).
    virtual void OnChannelCount(int count) = 0;
    // The size, rate and bit rate of the stream that follows; before its
    // first frame, and again whenever they change. `codec` when the source
    // knows it before the frames (kUnknown: the frames tell).
    virtual void OnStreamFormat(const StreamFormatInfo& info, VideoCodec codec) = 0;
    // One encoded frame, an Annex B byte stream of H.264 or H.265; a key
    // frame carries its parameter sets. `bytes` is valid only during the
    // call. `arrival` is when its last byte came off the network.
    virtual void OnFrame(const uint8_t* bytes, int length, bool keyFrame,
                         std::chrono::steady_clock::time_point arrival) = 0;
    // A connection that was made has ended by itself (closed, failed, or
    // silent beyond the source's time-out). Not called after Stop.
    virtual void OnSourceLost() = 0;
    // The frames that follow are of the camera's main or sub stream (only a
    // source that has both says; before that stream's OnStreamFormat).
    virtual void OnStreamChosen(StreamSize /*size*/) {}

  protected:
    ~SourceListener() = default;
};

// The login of a connection: who asks, for which channel, in which dialect.
struct SourceLogin {
    std::u16string userName;
    std::u16string password;
    int channel = 0;  // 0-based
    ProtocolVariant variant = ProtocolVariant::Current;
};

class StreamSource {
  public:
    StreamSource() = default;
    StreamSource(const StreamSource&) = delete;
    StreamSource& operator=(const StreamSource&) = delete;
    // Ends as Stop does.
    virtual ~StreamSource() = default;

    // Begins the connect (name lookup included, bounded by `connectTimeout`)
    // on the source's thread; the outcome reaches OnSourceConnected. False at
    // once, and no OnSourceConnected, when it cannot even begin.
    virtual bool Start(std::chrono::milliseconds connectTimeout) = 0;
    // After OnSourceConnected(true): the login, whose answer comes as an
    // OnSourceEvent. False when it could not be sent: the connection is lost.
    virtual bool Login(const SourceLogin& login) = 0;
    // The camera can be steered through this source (some of its PTZ
    // commands reach it).
    virtual bool CanSteer() const { return false; }
    // The PTZ command `code` (wire::PtzCode) reaches the camera; a camera
    // steered beside its stream may lack some (focus, iris).
    virtual bool CanSend(int /*code*/) const { return CanSteer(); }
    // The source has channels to switch among (a server of the camera protocol).
    virtual bool HasChannels() const { return false; }
    // Plays the main or the sub stream from now on, where the camera has both;
    // a switch keeps the old stream's pictures coming until the new one's
    // first key frame. Anything else plays its only stream.
    virtual void PreferStream(StreamSize /*size*/) {}
    // The camera's presets by name, in its order (only a camera steered
    // beside its stream has them); `index` below is 0-based in that list.
    virtual std::vector<std::u16string> PresetNames() const { return {}; }
    // Moves the camera to a preset. False when there is no such preset.
    virtual bool GotoPreset(int /*index*/) { return false; }
    // Stores the camera's position as preset `index`, keeping that preset's
    // name, or as a new preset named `name` where the list is shorter.
    virtual bool StorePreset(int /*index*/, std::u16string_view /*name*/) { return false; }
    // A PTZ command (wire::PtzCode) to `channel`, 0-based. False when it
    // could not be sent (the connection is then lost) or the source cannot
    // steer.
    virtual bool SendPtz(int /*channel*/, int /*code*/) { return false; }
    // A channel switch on the same connection (the legacy dialect's way).
    virtual bool SendChannel(int /*channelLeft*/, int /*channelWanted*/) { return false; }
    // Ends the connection and the source's thread: no listener call after it
    // returns. Never waits on the network: a connect, open or read under way
    // ends at once.
    virtual void Stop() = 0;
};

}  // namespace kavrel
