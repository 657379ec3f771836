#pragma once
// One ONVIF camera (Profile S): its device, media, PTZ and imaging services
// reached with SOAP 1.2 over HTTP, logged in with a WS-UsernameToken
// PasswordDigest whose time is ours plus the camera's clock offset, so a
// camera with a wrong clock still accepts the login.
//
// Threads: everything runs on the thread that owns the object (the
// user-interface thread), asynchronously through the QNetworkAccessManager
// given, which must outlive the camera; nothing blocks.
//
// Requests go one at a time in the order made: a QNetworkAccessManager would
// otherwise send them in parallel over several connections, and a Stop could
// overtake the move it ends. Each has a 5 s time-out.
//
// The password never reaches a debug line.

#include <QObject>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "onvif/OnvifTypes.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace kavrel::onvif {

struct Request;

class Camera : public QObject {
    Q_OBJECT
  public:
    Camera(QNetworkAccessManager* network, QUrl deviceService, QString user, QString password,
           QObject* parent = nullptr);
    ~Camera() override;  // aborts every request; no signal after it

    // GetSystemDateAndTime (no credentials; gives the clock offset used by
    // every digest), GetCapabilities, GetProfiles, GetStreamUri of each
    // H.264/H.265 profile, and the imaging options of the main profile's video
    // source. Then Opened(), or Failed(). Calling it again starts afresh.
    void Open();
    void Abort();  // every request ends, no signal for them
    // The owner lets go: the commands queued and under way are still sent
    // (each within its time-out), then the object deletes itself. The
    // owner must have disconnected from its signals and make no more calls.
    void DeleteWhenIdle();

    const std::vector<Profile>& Profiles() const;
    const Profile* MainProfile() const;  // the most pixels among the playable profiles
    const Profile* SubProfile() const;   // the fewest (MainProfile() when there is only one)
    bool HasPtz() const;    // a PTZ service and the main profile has a PTZ configuration
    bool HasFocus() const;  // imaging service with continuous focus Move
    bool HasIris() const;   // imaging settings with a manual iris range

    // Commands: queued and sent one at a time in the order given. Speeds in -1..1.
    void ContinuousMove(const QString& profileToken, double pan, double tilt, double zoom);
    void StopMove(const QString& profileToken);  // PanTilt and Zoom true
    void FocusMove(const QString& videoSourceToken, double speed);
    void FocusStop(const QString& videoSourceToken);
    void IrisStep(const QString& videoSourceToken, int direction);  // +1 opens, -1 closes
    void RefreshPresets(const QString& profileToken);  // GetPresets → PresetsChanged()
    void GotoPreset(const QString& profileToken, const QString& presetToken);
    // SetPreset with the name (and token to overwrite, when given), then GetPresets again.
    void SetPreset(const QString& profileToken, const QString& name,
                   const QString& presetToken = {});
    const std::vector<Preset>& Presets() const;

  signals:
    void Opened();
    void Failed(kavrel::onvif::Failure failure, const QString& detail);         // Open's outcome
    void CommandFailed(kavrel::onvif::Failure failure, const QString& detail);  // a command's
    void PresetsChanged();

  private:
    void Enqueue(Request request);
    void SendNext();
    void Finished(QNetworkReply* reply);
    void Fail(bool partOfOpen, Failure failure, const QString& detail);
    void Command(const QUrl& url, const char* service, const char* operation, const QString& body,
                 std::function<void(const QByteArray&)> onReply = {});
    void RequestCapabilities();
    void RequestProfiles();
    void RequestStreamUri(size_t index);
    void RequestImaging();

    struct Private;
    std::unique_ptr<Private> m_d;
};

}  // namespace kavrel::onvif
