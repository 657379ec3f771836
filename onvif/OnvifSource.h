#pragma once
// An ONVIF camera as a stream source: its device service (onvif::Camera, on
// the user-interface thread) finds its profiles and their stream addresses
// and steers it; the pictures come from an RTSP reader of the chosen
// profile's stream. The session above sees one source like any other.
//
// What the listener hears:
//   the device refuses the login (401)   OnSourceConnected(true), OnSourceEvent(kLoginRefused)
//   no H.264 or H.265 profile            OnSourceConnected(true), OnSourceEvent(kUnsupported)
//   the device does not answer, or with  OnSourceConnected(false)
//   a fault or a reply that is not ONVIF
//   otherwise                            what the RTSP reader of the stream says
//                                        (RtspSource.h), with OnStreamChosen before
//                                        each stream's format when the camera has two
// Calls about the device come on the user-interface thread (from its network
// replies, never from within a call of the owner); the reader's on its own
// thread. They never overlap: one lock orders them.
//
// Main and sub stream: PreferStream starts the other stream's reader beside
// the one that plays; its frames are held back until its first key frame,
// which, with its format, is the first thing the listener hears of it. Only
// then does the old reader stop, so the picture never goes dark. A switch
// that fails leaves the old stream playing.
//
// PTZ: the camera protocol's commands map to ContinuousMove (pan, tilt,
// zoom), the imaging service's focus Move, and iris steps. The session sends
// a stop before every command (the protocol's way); a ContinuousMove
// replaces any velocity, so a stop that a move follows at once is not sent
// (it waits for the end of the user-interface thread's turn). A stop
// otherwise goes to what moves; on a source that has not moved the camera
// yet (after a reconnection) it stops pan, tilt, zoom and focus alike. The
// stops Stop owes, and commands not yet answered, still reach the camera
// after Stop: the device object finishes them on its own.
//
// Threads: the owner's calls all on the user-interface thread, where the
// object lives.

#include <QObject>
#include <QPointer>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "config/StreamUrl.h"
#include "source/StreamSource.h"

class QNetworkAccessManager;

namespace kavrel {

class RtspSource;

namespace onvif {
class Camera;
}

class OnvifSource final : public QObject, public StreamSource {
    Q_OBJECT

  public:
    // The speed of every ContinuousMove and focus Move, of the range -1..1.
    static constexpr double kSpeed = 0.5;

    // `url` parsed, an ONVIF one; `userName` and `password` are the entry's,
    // used when the URL holds none. `network` outlives the source.
    OnvifSource(const StreamUrl& url, std::u16string_view userName, std::u16string_view password,
                SourceListener* listener, QNetworkAccessManager* network);
    ~OnvifSource() override;

    bool Start(std::chrono::milliseconds connectTimeout) override;
    bool Login(const SourceLogin& login) override;
    bool CanSteer() const override;
    bool CanSend(int code) const override;
    bool SendPtz(int channel, int code) override;
    void PreferStream(StreamSize size) override;
    std::vector<std::u16string> PresetNames() const override;
    bool GotoPreset(int index) override;
    bool StorePreset(int index, std::u16string_view name) override;
    void Stop() override;

  private:
    class Relay;
    enum class Motion { kUnknown, kIdle, kPanTiltZoom, kFocus };

    void OnOpened();
    void OnOpenFailed(int failure);
    // A reader for the profile of `size`; null when it cannot start.
    std::unique_ptr<Relay> MakeRelay(StreamSize size);
    void SwitchStream();
    // Runs on the user-interface thread: ends `relay` if it is no longer
    // the active one or the pending one.
    void RetireRelays();
    void FlushStop();
    const QString& PtzToken() const;
    const QString& VideoSourceToken() const;

    // From the relays, on their readers' threads (under m_relayMutex).
    void RelayConnected(Relay* relay, bool connected);
    void RelayEvent(Relay* relay, SourceEvent event);
    void RelayFormat(Relay* relay, const StreamFormatInfo& info, VideoCodec codec);
    void RelayFrame(Relay* relay, const uint8_t* bytes, int length, bool keyFrame,
                    std::chrono::steady_clock::time_point arrival);
    void RelayLost(Relay* relay);

    StreamUrl m_url;
    std::u16string m_userName;
    std::u16string m_password;
    SourceListener* m_listener;
    QNetworkAccessManager* m_network;
    std::chrono::milliseconds m_connectTimeout{0};
    onvif::Camera* m_camera = nullptr;  // owned; handed to itself by Stop
    bool m_opened = false;
    bool m_twoStreams = false;  // the camera has a main and a distinct sub profile
    StreamSize m_wanted = StreamSize::kMain;
    bool m_stopped = false;

    // PTZ (user-interface thread).
    Motion m_motion = Motion::kUnknown;
    bool m_stopOwed = false;  // a stop waits for the end of this turn
    bool m_flushQueued = false;

    // Guards the relays' hand-over and orders every call of the listener.
    mutable std::mutex m_relayMutex;
    std::unique_ptr<Relay> m_active;                // guarded; the stream that plays
    std::unique_ptr<Relay> m_pending;               // guarded; the stream switched to
    std::vector<std::unique_ptr<Relay>> m_retired;  // guarded; to be stopped
};

// The source for an ONVIF address (IsOnvifUrl), on the calling thread's
// network access (one per program); null when the address does not parse.
std::unique_ptr<StreamSource> MakeOnvifSource(std::u16string_view address,
                                              std::u16string_view userName,
                                              std::u16string_view password,
                                              SourceListener* listener);

}  // namespace kavrel
