#include "onvif/OnvifSource.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QTimer>
#include <QUrl>
#include <utility>

#include "onvif/OnvifCamera.h"
#include "platform/DebugSink.h"
#include "protocol/WireFormat.h"
#include "source/RtspSource.h"

namespace kavrel {

// Hands one reader's calls to its source, which decides what reaches the
// listener. Lives until its reader has stopped.
class OnvifSource::Relay final : public SourceListener {
  public:
    Relay(OnvifSource* owner, StreamSize size) : size(size), m_owner(owner) {}

    void OnSourceConnected(bool connected) override { m_owner->RelayConnected(this, connected); }
    void OnSourceEvent(SourceEvent event) override { m_owner->RelayEvent(this, event); }
    void OnChannelCount(int /*count*/) override {}
    void OnStreamFormat(const StreamFormatInfo& info, VideoCodec codec) override {
        m_owner->RelayFormat(this, info, codec);
    }
    void OnFrame(const uint8_t* bytes, int length, bool keyFrame,
                 std::chrono::steady_clock::time_point arrival) override {
        m_owner->RelayFrame(this, bytes, length, keyFrame, arrival);
    }
    void OnSourceLost() override { m_owner->RelayLost(this); }

    std::unique_ptr<RtspSource> reader;
    const StreamSize size;
    // Of a pending reader, guarded by the source's lock: its format, kept
    // until its first key frame.
    std::optional<std::pair<StreamFormatInfo, VideoCodec>> format;
    bool failed = false;  // guarded: a pending reader that will not play

  private:
    OnvifSource* m_owner;
};

namespace {

bool IsPanTiltZoom(int code) {
    switch (code) {
        case wire::kPtzUp:
        case wire::kPtzDown:
        case wire::kPtzLeft:
        case wire::kPtzRight:
        case wire::kPtzZoomIn:
        case wire::kPtzZoomOut:
            return true;
        default:
            return false;
    }
}

bool IsFocus(int code) {
    return code == wire::kPtzFocusAdd || code == wire::kPtzFocusSub;
}

bool IsIris(int code) {
    return code == wire::kPtzIrisAdd || code == wire::kPtzIrisSub;
}

QString Q(std::u16string_view text) {
    return QString::fromStdU16String(std::u16string(text));
}

}  // namespace

OnvifSource::OnvifSource(const StreamUrl& url, std::u16string_view userName,
                         std::u16string_view password, SourceListener* listener,
                         QNetworkAccessManager* network)
    : m_url(url),
      m_userName(url.userName.empty() ? std::u16string(userName) : url.userName),
      m_password(url.userName.empty() ? std::u16string(password) : url.password),
      m_listener(listener),
      m_network(network) {}

OnvifSource::~OnvifSource() {
    Stop();
}

bool OnvifSource::Start(std::chrono::milliseconds connectTimeout) {
    if (m_camera || m_stopped)
        return false;
    m_connectTimeout = connectTimeout;
    m_camera = new onvif::Camera(m_network, QUrl(Q(m_url.RequestUrl())), Q(m_userName),
                                 Q(m_password), this);
    connect(m_camera, &onvif::Camera::Opened, this, &OnvifSource::OnOpened);
    connect(m_camera, &onvif::Camera::Failed, this,
            [this](onvif::Failure failure, const QString&) { OnOpenFailed(int(failure)); });
    connect(m_camera, &onvif::Camera::CommandFailed, this,
            [](onvif::Failure, const QString& detail) {
                DebugOutput("ONVIF command failed: " + detail.toStdString());
            });
    m_camera->Open();
    return true;
}

void OnvifSource::OnOpenFailed(int failure) {
    switch (onvif::Failure(failure)) {
        case onvif::Failure::kLoginRefused:
            // Retrying cannot mend a wrong user or password.
            m_listener->OnSourceConnected(true);
            m_listener->OnSourceEvent(SourceEvent::kLoginRefused);
            return;
        case onvif::Failure::kNoStream:
            m_listener->OnSourceConnected(true);
            m_listener->OnSourceEvent(SourceEvent::kUnsupported);
            return;
        default:
            m_listener->OnSourceConnected(false);
            return;
    }
}

void OnvifSource::OnOpened() {
    const onvif::Profile* main = m_camera->MainProfile();
    const onvif::Profile* sub = m_camera->SubProfile();
    if (!main || main->streamUri.isEmpty()) {
        OnOpenFailed(int(onvif::Failure::kNoStream));
        return;
    }
    m_opened = true;
    m_twoStreams = sub && sub != main && !sub->streamUri.isEmpty();
    if (m_camera->HasPtz())
        m_camera->RefreshPresets(PtzToken());
    std::unique_ptr<Relay> relay = MakeRelay(m_twoStreams ? m_wanted : StreamSize::kMain);
    if (!relay) {
        m_listener->OnSourceConnected(false);
        return;
    }
    Relay* started = relay.get();
    {
        std::lock_guard lock(m_relayMutex);
        m_active = std::move(relay);
    }
    if (!started->reader->Start(m_connectTimeout)) {
        std::lock_guard lock(m_relayMutex);
        m_listener->OnSourceConnected(false);
    }
}

std::unique_ptr<OnvifSource::Relay> OnvifSource::MakeRelay(StreamSize size) {
    const onvif::Profile* profile =
        size == StreamSize::kMain ? m_camera->MainProfile() : m_camera->SubProfile();
    if (!profile || profile->streamUri.isEmpty())
        return nullptr;
    auto relay = std::make_unique<Relay>(this, size);
    relay->reader = std::make_unique<RtspSource>(profile->streamUri.toString().toStdU16String(),
                                                 m_userName, m_password, relay.get());
    return relay;
}

bool OnvifSource::Login(const SourceLogin& login) {
    std::lock_guard lock(m_relayMutex);
    return !m_active || m_active->reader->Login(login);
}

void OnvifSource::PreferStream(StreamSize size) {
    m_wanted = size;
    if (m_opened && m_twoStreams && !m_stopped)
        SwitchStream();
}

void OnvifSource::SwitchStream() {
    std::unique_ptr<Relay> relay;
    {
        std::lock_guard lock(m_relayMutex);
        if (!m_active)
            return;
        if (m_pending && m_pending->size != m_wanted)
            m_retired.push_back(std::move(m_pending));
        if (m_active->size == m_wanted || m_pending) {
            // Already there, or on the way.
        } else {
            relay = MakeRelay(m_wanted);
        }
    }
    if (relay) {
        Relay* started = relay.get();
        {
            std::lock_guard lock(m_relayMutex);
            m_pending = std::move(relay);
        }
        if (!started->reader->Start(m_connectTimeout)) {
            std::lock_guard lock(m_relayMutex);
            m_retired.push_back(std::move(m_pending));
        }
    }
    RetireRelays();
}

void OnvifSource::RetireRelays() {
    std::vector<std::unique_ptr<Relay>> retired;
    {
        std::lock_guard lock(m_relayMutex);
        retired.swap(m_retired);
        if (m_pending && m_pending->failed)
            retired.push_back(std::move(m_pending));
    }
    // Outside the lock: a reader's Stop waits for its thread, which may be
    // waiting for the lock to hand over a frame.
    for (auto& relay : retired)
        relay->reader->Stop();
}

// --- The readers' calls (their threads) ---

void OnvifSource::RelayConnected(Relay* relay, bool connected) {
    std::lock_guard lock(m_relayMutex);
    if (relay == m_active.get()) {
        m_listener->OnSourceConnected(connected);
    } else if (relay == m_pending.get() && !connected) {
        relay->failed = true;
        QMetaObject::invokeMethod(this, &OnvifSource::RetireRelays, Qt::QueuedConnection);
    }
}

void OnvifSource::RelayEvent(Relay* relay, SourceEvent event) {
    std::lock_guard lock(m_relayMutex);
    if (relay == m_active.get()) {
        m_listener->OnSourceEvent(event);
    } else if (relay == m_pending.get() && event != SourceEvent::kLoginSucceeded) {
        relay->failed = true;
        QMetaObject::invokeMethod(this, &OnvifSource::RetireRelays, Qt::QueuedConnection);
    }
}

void OnvifSource::RelayFormat(Relay* relay, const StreamFormatInfo& info, VideoCodec codec) {
    std::lock_guard lock(m_relayMutex);
    if (relay == m_active.get()) {
        if (m_twoStreams)
            m_listener->OnStreamChosen(relay->size);
        m_listener->OnStreamFormat(info, codec);
    } else if (relay == m_pending.get()) {
        relay->format.emplace(info, codec);
    }
}

void OnvifSource::RelayFrame(Relay* relay, const uint8_t* bytes, int length, bool keyFrame,
                             std::chrono::steady_clock::time_point arrival) {
    std::lock_guard lock(m_relayMutex);
    if (relay == m_pending.get() && keyFrame && relay->format && !relay->failed) {
        // The new stream's first picture: it takes over, and the old one ends.
        m_retired.push_back(std::move(m_active));
        m_active = std::move(m_pending);
        m_listener->OnStreamChosen(relay->size);
        m_listener->OnStreamFormat(relay->format->first, relay->format->second);
        QMetaObject::invokeMethod(this, &OnvifSource::RetireRelays, Qt::QueuedConnection);
    }
    if (relay == m_active.get())
        m_listener->OnFrame(bytes, length, keyFrame, arrival);
}

void OnvifSource::RelayLost(Relay* relay) {
    std::lock_guard lock(m_relayMutex);
    if (relay == m_active.get()) {
        m_listener->OnSourceLost();
    } else if (relay == m_pending.get()) {
        relay->failed = true;
        QMetaObject::invokeMethod(this, &OnvifSource::RetireRelays, Qt::QueuedConnection);
    }
}

// --- Steering ---

const QString& OnvifSource::PtzToken() const {
    // HasPtz means the main profile has a PTZ configuration: every PTZ
    // request goes there, whichever stream plays.
    static const QString kNone;
    const onvif::Profile* main = m_camera->MainProfile();
    return main ? main->token : kNone;
}

const QString& OnvifSource::VideoSourceToken() const {
    static const QString kNone;
    const onvif::Profile* main = m_camera->MainProfile();
    return main ? main->videoSourceToken : kNone;
}

bool OnvifSource::CanSteer() const {
    return m_opened && (m_camera->HasPtz() || m_camera->HasFocus() || m_camera->HasIris());
}

bool OnvifSource::CanSend(int code) const {
    if (!m_opened)
        return false;
    if (code == wire::kPtzStop)
        return CanSteer();
    if (IsPanTiltZoom(code))
        return m_camera->HasPtz();
    if (IsFocus(code))
        return m_camera->HasFocus();
    if (IsIris(code))
        return m_camera->HasIris();
    return false;
}

bool OnvifSource::SendPtz(int /*channel*/, int code) {
    if (!m_opened || m_stopped || !CanSend(code))
        return false;
    if (code == wire::kPtzStop) {
        // A move that follows in this turn replaces the velocity anyway.
        m_stopOwed = true;
        if (!m_flushQueued) {
            m_flushQueued = true;
            QTimer::singleShot(0, this, [this] {
                m_flushQueued = false;
                FlushStop();
            });
        }
        return true;
    }
    if (IsIris(code)) {
        // An iris step is not a movement: the stop owed goes first, and
        // nothing is left to stop afterwards.
        FlushStop();
        m_camera->IrisStep(VideoSourceToken(), code == wire::kPtzIrisAdd ? 1 : -1);
        return true;
    }
    const bool owed = std::exchange(m_stopOwed, false);
    if (IsPanTiltZoom(code)) {
        if (owed && m_motion == Motion::kFocus)
            m_camera->FocusStop(VideoSourceToken());
        const double pan = code == wire::kPtzLeft ? -kSpeed : code == wire::kPtzRight ? kSpeed : 0;
        const double tilt = code == wire::kPtzDown ? -kSpeed : code == wire::kPtzUp ? kSpeed : 0;
        const double zoom = code == wire::kPtzZoomOut  ? -kSpeed
                            : code == wire::kPtzZoomIn ? kSpeed
                                                       : 0;
        m_camera->ContinuousMove(PtzToken(), pan, tilt, zoom);
        m_motion = Motion::kPanTiltZoom;
    } else {
        if (owed && m_motion == Motion::kPanTiltZoom)
            m_camera->StopMove(PtzToken());
        m_camera->FocusMove(VideoSourceToken(), code == wire::kPtzFocusAdd ? kSpeed : -kSpeed);
        m_motion = Motion::kFocus;
    }
    return true;
}

void OnvifSource::FlushStop() {
    if (!m_stopOwed || !m_camera)
        return;
    m_stopOwed = false;
    const bool unknown = m_motion == Motion::kUnknown;
    if ((unknown || m_motion == Motion::kPanTiltZoom) && m_camera->HasPtz())
        m_camera->StopMove(PtzToken());
    if ((unknown || m_motion == Motion::kFocus) && m_camera->HasFocus())
        m_camera->FocusStop(VideoSourceToken());
    m_motion = Motion::kIdle;
}

// --- Presets ---

std::vector<std::u16string> OnvifSource::PresetNames() const {
    std::vector<std::u16string> names;
    if (!m_opened)
        return names;
    for (const onvif::Preset& preset : m_camera->Presets())
        names.push_back((preset.name.isEmpty() ? preset.token : preset.name).toStdU16String());
    return names;
}

bool OnvifSource::GotoPreset(int index) {
    if (!m_opened || m_stopped || !m_camera->HasPtz())
        return false;
    const std::vector<onvif::Preset>& presets = m_camera->Presets();
    if (index < 0 || size_t(index) >= presets.size())
        return false;
    FlushStop();  // before the travel, not in its way
    m_camera->GotoPreset(PtzToken(), presets[size_t(index)].token);
    // The camera moves by itself now: nothing of ours to stop.
    m_motion = Motion::kIdle;
    return true;
}

bool OnvifSource::StorePreset(int index, std::u16string_view name) {
    if (!m_opened || m_stopped || !m_camera->HasPtz() || index < 0)
        return false;
    FlushStop();  // the position stored is where the camera stands
    const std::vector<onvif::Preset>& presets = m_camera->Presets();
    if (size_t(index) < presets.size()) {
        const onvif::Preset& preset = presets[size_t(index)];
        m_camera->SetPreset(PtzToken(), preset.name, preset.token);
    } else {
        m_camera->SetPreset(PtzToken(), Q(name));
    }
    return true;
}

void OnvifSource::Stop() {
    if (m_stopped)
        return;
    m_stopped = true;
    // A stop owed now goes before the device is let go.
    FlushStop();
    {
        std::lock_guard lock(m_relayMutex);
        if (m_active)
            m_retired.push_back(std::move(m_active));
        if (m_pending)
            m_retired.push_back(std::move(m_pending));
    }
    RetireRelays();
    if (m_camera) {
        disconnect(m_camera, nullptr, this, nullptr);
        onvif::Camera* camera = m_camera;
        m_camera = nullptr;
        m_opened = false;
        // Commands under way (a stop among them) still reach the camera. It
        // goes with the network access it uses, so a program that ends
        // before the camera answers still frees it.
        camera->setParent(m_network);
        camera->DeleteWhenIdle();
    }
}

std::unique_ptr<StreamSource> MakeOnvifSource(std::u16string_view address,
                                              std::u16string_view userName,
                                              std::u16string_view password,
                                              SourceListener* listener) {
    const std::optional<StreamUrl> url = ParseStreamUrl(address);
    if (!url || !url->onvif)
        return nullptr;
    // One network access for every camera: its connections are shared per
    // host, and it goes with the application.
    static QPointer<QNetworkAccessManager> network;
    if (!network)
        network = new QNetworkAccessManager(QCoreApplication::instance());
    return std::make_unique<OnvifSource>(*url, userName, password, listener, network.data());
}

}  // namespace kavrel
