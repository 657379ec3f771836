#include "onvif/OnvifCamera.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <algorithm>
#include <deque>
#include <functional>

#include "onvif/Replies.h"
#include "onvif/Soap.h"
#include "platform/DebugSink.h"

namespace kavrel::onvif {

namespace {
constexpr int kTimeoutMs = 5000;
constexpr double kIrisSteps = 10;  // an IrisStep moves a tenth of the camera's range

bool PlayableEncoding(const QString& encoding) {
    return encoding.compare("H264", Qt::CaseInsensitive) == 0 ||
           encoding.compare("H265", Qt::CaseInsensitive) == 0;
}

bool Playable(const Profile& p) {
    return PlayableEncoding(p.encoding) && !p.streamUri.isEmpty();
}

QString Escaped(const QString& text) {
    return text.toHtmlEscaped();
}
QString Number(double v) {
    return QString::number(std::clamp(v, -1.0, 1.0), 'f', 3);
}
}  // namespace

// One SOAP exchange waiting its turn.
struct Request {
    QUrl url;
    QString action;
    QByteArray body;
    bool authenticated = true;
    bool partOfOpen = false;
    // Called with the reply body on success; failures are the camera's to report.
    std::function<void(const QByteArray&)> onReply;
    // When set, a failure is passed here instead of ending Open or reporting the command.
    std::function<void()> onFailure;
};

// All of it is the owner thread's.
struct Camera::Private {
    QNetworkAccessManager* network;
    QUrl deviceService;
    QString user, password;
    std::chrono::seconds offset{0};
    ServiceAddresses services;
    ImagingOptions imaging;
    std::vector<Profile> profiles;
    std::vector<Preset> presets;
    std::deque<Request> queue;
    QPointer<QNetworkReply> current;  // the one request on the wire
    bool deleteWhenIdle = false;
};

Camera::Camera(QNetworkAccessManager* network, QUrl deviceService, QString user, QString password,
               QObject* parent)
    : QObject(parent), m_d(std::make_unique<Private>()) {
    m_d->network = network;
    m_d->deviceService = std::move(deviceService);
    m_d->user = std::move(user);
    m_d->password = std::move(password);
}

Camera::~Camera() {
    Abort();
}

void Camera::Abort() {
    m_d->queue.clear();
    if (QNetworkReply* reply = m_d->current) {
        m_d->current = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void Camera::Enqueue(Request request) {
    m_d->queue.push_back(std::move(request));
    if (m_d->current == nullptr) {
        SendNext();
    }
}

void Camera::SendNext() {
    if (m_d->queue.empty()) {
        return;
    }
    const Request& r = m_d->queue.front();
    QNetworkRequest request(r.url);
    request.setTransferTimeout(kTimeoutMs);
    request.setHeader(
        QNetworkRequest::ContentTypeHeader,
        QStringLiteral("application/soap+xml; charset=utf-8; action=\"%1\"").arg(r.action));
    Credentials credentials{
        m_d->user, m_d->password, QDateTime::currentDateTimeUtc().addSecs(m_d->offset.count()), {}};
    const QByteArray envelope = Envelope(r.body, r.authenticated ? &credentials : nullptr);
    QNetworkReply* reply = m_d->network->post(request, envelope);
    m_d->current = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { Finished(reply); });
}

void Camera::Finished(QNetworkReply* reply) {
    reply->deleteLater();
    if (reply != m_d->current) {
        return;
    }
    m_d->current = nullptr;
    Request r = std::move(m_d->queue.front());
    m_d->queue.pop_front();
    const QByteArray body = reply->read(kMaxReplyBytes + 1);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    Failure failure = Failure::kNone;
    QString detail;
    if (body.size() > kMaxReplyBytes) {
        failure = Failure::kBadReply;
    } else if (status == 401) {
        failure = Failure::kLoginRefused;
        detail = QStringLiteral("HTTP 401");
    } else if (const auto fault = ParseFault(body)) {
        failure = fault->subcode == "NotAuthorized" ? Failure::kLoginRefused : Failure::kFault;
        detail = fault->reason.isEmpty() ? fault->subcode : fault->reason;
    } else if (reply->error() == QNetworkReply::OperationCanceledError ||
               reply->error() == QNetworkReply::TimeoutError) {
        failure = Failure::kTimeout;
    } else if (reply->error() != QNetworkReply::NoError) {
        failure = Failure::kNetwork;
        detail = reply->errorString();
    }
    // A listener may delete the camera from the signals emitted below.
    const QPointer<Camera> alive(this);
    if (m_d->deleteWhenIdle && r.partOfOpen) {
        // An open nobody waits for goes no further.
    } else if (failure == Failure::kNone) {
        r.onReply(body);
    } else if (r.onFailure) {
        r.onFailure();
    } else {
        Fail(r.partOfOpen, failure, detail);
    }
    if (alive && m_d->current == nullptr) {
        SendNext();
    }
    if (alive && m_d->deleteWhenIdle && m_d->current == nullptr)
        deleteLater();
}

void Camera::DeleteWhenIdle() {
    m_d->deleteWhenIdle = true;
    // The open's queries serve nobody now; the commands (a stop among them)
    // still go.
    std::erase_if(m_d->queue, [](const Request& r) { return r.partOfOpen; });
    if (m_d->current == nullptr && m_d->queue.empty())
        deleteLater();
}

void Camera::Fail(bool partOfOpen, Failure failure, const QString& detail) {
    DebugPrintf("ONVIF %s failed: %d %s\n", partOfOpen ? "open" : "command",
                static_cast<int>(failure), qPrintable(detail));
    if (partOfOpen) {
        // The rest of the opening is moot; commands queued meanwhile stay.
        std::erase_if(m_d->queue, [](const Request& r) { return r.partOfOpen; });
        emit Failed(failure, detail);
    } else {
        emit CommandFailed(failure, detail);
    }
}

void Camera::Open() {
    Abort();
    m_d->offset = std::chrono::seconds(0);
    m_d->services = {};
    m_d->imaging = {};
    m_d->profiles.clear();
    m_d->presets.clear();
    Request time;
    time.url = m_d->deviceService;
    time.action = QStringLiteral("http://www.onvif.org/ver10/device/wsdl/GetSystemDateAndTime");
    time.body = "<tds:GetSystemDateAndTime/>";
    time.authenticated = false;
    time.partOfOpen = true;
    time.onReply = [this](const QByteArray& body) {
        const auto camera = ParseSystemDateAndTime(body);
        if (!camera) {
            Fail(true, Failure::kBadReply, QStringLiteral("GetSystemDateAndTime"));
            return;
        }
        m_d->offset = std::chrono::seconds(QDateTime::currentDateTimeUtc().secsTo(*camera));
        RequestCapabilities();
    };
    Enqueue(std::move(time));
}

void Camera::RequestCapabilities() {
    Request r;
    r.url = m_d->deviceService;
    r.action = QStringLiteral("http://www.onvif.org/ver10/device/wsdl/GetCapabilities");
    r.body = "<tds:GetCapabilities><tds:Category>All</tds:Category></tds:GetCapabilities>";
    r.partOfOpen = true;
    r.onReply = [this](const QByteArray& body) {
        const auto services = ParseServices(body);
        if (!services) {
            Fail(true, Failure::kBadReply, QStringLiteral("GetCapabilities"));
            return;
        }
        m_d->services = *services;
        const QUrl base = m_d->deviceService;
        for (QUrl* url : {&m_d->services.media, &m_d->services.ptz, &m_d->services.imaging}) {
            if (url->isRelative() && !url->isEmpty()) {
                *url = base.resolved(*url);
            }
        }
        if (m_d->services.media.isEmpty()) {
            m_d->services.media = base;  // some cameras serve every service at one address
        }
        RequestProfiles();
    };
    Enqueue(std::move(r));
}

void Camera::RequestProfiles() {
    Request r;
    r.url = m_d->services.media;
    r.action = QStringLiteral("http://www.onvif.org/ver10/media/wsdl/GetProfiles");
    r.body = "<trt:GetProfiles/>";
    r.partOfOpen = true;
    r.onReply = [this](const QByteArray& body) {
        auto profiles = ParseProfiles(body);
        if (!profiles) {
            Fail(true, Failure::kBadReply, QStringLiteral("GetProfiles"));
            return;
        }
        m_d->profiles = std::move(*profiles);
        RequestStreamUri(0);
    };
    Enqueue(std::move(r));
}

// The stream addresses one profile after another, from `index` on.
void Camera::RequestStreamUri(size_t index) {
    while (index < m_d->profiles.size() && !PlayableEncoding(m_d->profiles[index].encoding)) {
        ++index;
    }
    if (index == m_d->profiles.size()) {
        if (MainProfile() == nullptr) {
            Fail(true, Failure::kNoStream, {});
        } else {
            RequestImaging();
        }
        return;
    }
    Request r;
    r.url = m_d->services.media;
    r.action = QStringLiteral("http://www.onvif.org/ver10/media/wsdl/GetStreamUri");
    r.body = QStringLiteral(
                 "<trt:GetStreamUri><trt:StreamSetup><tt:Stream>RTP-Unicast</tt:Stream>"
                 "<tt:Transport><tt:Protocol>RTSP</tt:Protocol></tt:Transport>"
                 "</trt:StreamSetup><trt:ProfileToken>%1</trt:ProfileToken>"
                 "</trt:GetStreamUri>")
                 .arg(Escaped(m_d->profiles[index].token))
                 .toUtf8();
    r.partOfOpen = true;
    r.onReply = [this, index](const QByteArray& body) {
        if (const auto uri = ParseStreamUri(body)) {
            m_d->profiles[index].streamUri = *uri;
        }
        RequestStreamUri(index + 1);
    };
    // One profile without a stream does not spoil the others.
    r.onFailure = [this, index] { RequestStreamUri(index + 1); };
    Enqueue(std::move(r));
}

void Camera::RequestImaging() {
    const Profile* main = MainProfile();
    if (m_d->services.imaging.isEmpty() || main->videoSourceToken.isEmpty()) {
        emit Opened();
        return;
    }
    const QString source = Escaped(main->videoSourceToken);
    Request move;
    move.url = m_d->services.imaging;
    move.action = QStringLiteral("http://www.onvif.org/ver20/imaging/wsdl/GetMoveOptions");
    move.body = QStringLiteral(
                    "<timg:GetMoveOptions><timg:VideoSourceToken>%1"
                    "</timg:VideoSourceToken></timg:GetMoveOptions>")
                    .arg(source)
                    .toUtf8();
    move.partOfOpen = true;
    move.onReply = [this](const QByteArray& body) { ParseImagingOptions(body, m_d->imaging); };
    move.onFailure = [] {};  // a camera without focus control is still a camera
    Enqueue(std::move(move));
    Request options = move;
    options.action = QStringLiteral("http://www.onvif.org/ver20/imaging/wsdl/GetOptions");
    options.body = QStringLiteral(
                       "<timg:GetOptions><timg:VideoSourceToken>%1"
                       "</timg:VideoSourceToken></timg:GetOptions>")
                       .arg(source)
                       .toUtf8();
    options.onReply = [this](const QByteArray& body) {
        ParseImagingOptions(body, m_d->imaging);
        emit Opened();
    };
    options.onFailure = [this] { emit Opened(); };
    Enqueue(std::move(options));
}

const std::vector<Profile>& Camera::Profiles() const {
    return m_d->profiles;
}

const Profile* Camera::MainProfile() const {
    const Profile* best = nullptr;
    for (const Profile& p : m_d->profiles) {
        if (Playable(p) && (best == nullptr || p.width * p.height > best->width * best->height)) {
            best = &p;
        }
    }
    return best;
}

const Profile* Camera::SubProfile() const {
    const Profile* best = nullptr;
    for (const Profile& p : m_d->profiles) {
        if (Playable(p) && (best == nullptr || p.width * p.height < best->width * best->height)) {
            best = &p;
        }
    }
    return best;
}

bool Camera::HasPtz() const {
    const Profile* main = MainProfile();
    return !m_d->services.ptz.isEmpty() && main != nullptr && main->hasPtz;
}

bool Camera::HasFocus() const {
    return !m_d->services.imaging.isEmpty() && m_d->imaging.focusContinuous;
}

bool Camera::HasIris() const {
    return !m_d->services.imaging.isEmpty() && m_d->imaging.hasIris;
}

void Camera::Command(const QUrl& url, const char* service, const char* operation,
                     const QString& body, std::function<void(const QByteArray&)> onReply) {
    Request r;
    r.url = url.isEmpty() ? m_d->deviceService : url;
    r.action = QStringLiteral("http://www.onvif.org/%1/%2").arg(service, operation);
    r.body = body.toUtf8();
    r.onReply = onReply ? std::move(onReply) : [](const QByteArray&) {};
    Enqueue(std::move(r));
}

void Camera::ContinuousMove(const QString& profileToken, double pan, double tilt, double zoom) {
    Command(m_d->services.ptz, "ver20/ptz/wsdl", "ContinuousMove",
            QStringLiteral("<tptz:ContinuousMove><tptz:ProfileToken>%1</tptz:ProfileToken>"
                           "<tptz:Velocity><tt:PanTilt x=\"%2\" y=\"%3\"/><tt:Zoom x=\"%4\"/>"
                           "</tptz:Velocity></tptz:ContinuousMove>")
                .arg(Escaped(profileToken), Number(pan), Number(tilt), Number(zoom)));
}

void Camera::StopMove(const QString& profileToken) {
    Command(m_d->services.ptz, "ver20/ptz/wsdl", "Stop",
            QStringLiteral("<tptz:Stop><tptz:ProfileToken>%1</tptz:ProfileToken>"
                           "<tptz:PanTilt>true</tptz:PanTilt><tptz:Zoom>true</tptz:Zoom>"
                           "</tptz:Stop>")
                .arg(Escaped(profileToken)));
}

void Camera::FocusMove(const QString& videoSourceToken, double speed) {
    Command(m_d->services.imaging, "ver20/imaging/wsdl", "Move",
            QStringLiteral("<timg:Move><timg:VideoSourceToken>%1</timg:VideoSourceToken>"
                           "<timg:Focus><tt:Continuous><tt:Speed>%2</tt:Speed></tt:Continuous>"
                           "</timg:Focus></timg:Move>")
                .arg(Escaped(videoSourceToken), Number(speed)));
}

void Camera::FocusStop(const QString& videoSourceToken) {
    Command(m_d->services.imaging, "ver20/imaging/wsdl", "Stop",
            QStringLiteral("<timg:Stop><timg:VideoSourceToken>%1</timg:VideoSourceToken>"
                           "</timg:Stop>")
                .arg(Escaped(videoSourceToken)));
}

void Camera::IrisStep(const QString& videoSourceToken, int direction) {
    const QString source = Escaped(videoSourceToken);
    // The step is taken from the iris as it is now, read just before.
    Command(m_d->services.imaging, "ver20/imaging/wsdl", "GetImagingSettings",
            QStringLiteral("<timg:GetImagingSettings><timg:VideoSourceToken>%1"
                           "</timg:VideoSourceToken></timg:GetImagingSettings>")
                .arg(source),
            [this, source, direction](const QByteArray& body) {
                const auto iris = ParseIris(body);
                if (!iris || !m_d->imaging.hasIris) {
                    emit CommandFailed(Failure::kBadReply, QStringLiteral("GetImagingSettings"));
                    return;
                }
                const double step = (m_d->imaging.irisMax - m_d->imaging.irisMin) / kIrisSteps;
                const double value = std::clamp(*iris + (direction > 0 ? step : -step),
                                                m_d->imaging.irisMin, m_d->imaging.irisMax);
                // Queued behind whatever was asked while the iris was read.
                Command(m_d->services.imaging, "ver20/imaging/wsdl", "SetImagingSettings",
                        QStringLiteral("<timg:SetImagingSettings><timg:VideoSourceToken>%1"
                                       "</timg:VideoSourceToken><timg:ImagingSettings>"
                                       "<tt:Exposure><tt:Mode>MANUAL</tt:Mode><tt:Iris>%2"
                                       "</tt:Iris></tt:Exposure></timg:ImagingSettings>"
                                       "</timg:SetImagingSettings>")
                            .arg(source, QString::number(value, 'g', 6)));
            });
}

void Camera::RefreshPresets(const QString& profileToken) {
    Command(m_d->services.ptz, "ver20/ptz/wsdl", "GetPresets",
            QStringLiteral("<tptz:GetPresets><tptz:ProfileToken>%1</tptz:ProfileToken>"
                           "</tptz:GetPresets>")
                .arg(Escaped(profileToken)),
            [this](const QByteArray& body) {
                auto presets = ParsePresets(body);
                if (!presets) {
                    emit CommandFailed(Failure::kBadReply, QStringLiteral("GetPresets"));
                    return;
                }
                m_d->presets = std::move(*presets);
                emit PresetsChanged();
            });
}

void Camera::GotoPreset(const QString& profileToken, const QString& presetToken) {
    Command(m_d->services.ptz, "ver20/ptz/wsdl", "GotoPreset",
            QStringLiteral("<tptz:GotoPreset><tptz:ProfileToken>%1</tptz:ProfileToken>"
                           "<tptz:PresetToken>%2</tptz:PresetToken></tptz:GotoPreset>")
                .arg(Escaped(profileToken), Escaped(presetToken)));
}

void Camera::SetPreset(const QString& profileToken, const QString& name,
                       const QString& presetToken) {
    QString body = QStringLiteral("<tptz:SetPreset><tptz:ProfileToken>%1</tptz:ProfileToken>")
                       .arg(Escaped(profileToken));
    if (!name.isEmpty()) {
        body += QStringLiteral("<tptz:PresetName>%1</tptz:PresetName>").arg(Escaped(name));
    }
    if (!presetToken.isEmpty()) {
        body += QStringLiteral("<tptz:PresetToken>%1</tptz:PresetToken>").arg(Escaped(presetToken));
    }
    body += QStringLiteral("</tptz:SetPreset>");
    Command(m_d->services.ptz, "ver20/ptz/wsdl", "SetPreset", body);
    RefreshPresets(profileToken);
}

const std::vector<Preset>& Camera::Presets() const {
    return m_d->presets;
}

}  // namespace kavrel::onvif
