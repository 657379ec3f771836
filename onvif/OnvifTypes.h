#pragma once
// What the ONVIF client library hands its users: plain values, copied freely.

#include <QMetaType>
#include <QString>
#include <QUrl>

namespace kavrel::onvif {

// One media profile as the camera describes it.
struct Profile {
    QString token, name;
    QString encoding;           // "H264", "H265", "JPEG", ... as the camera says
    int width = 0, height = 0;  // of its video encoder configuration
    QString videoSourceToken;   // for the imaging service
    bool hasPtz = false;        // the profile has a PTZ configuration
    QUrl streamUri;             // from GetStreamUri (RTP-Unicast over RTSP); empty when it failed
};

struct Preset {
    QString token, name;
};

enum class Failure { kNone, kLoginRefused, kNetwork, kTimeout, kFault, kBadReply, kNoStream };

struct DiscoveredCamera {
    QUrl deviceService;
    QString host, model, name;
};

}  // namespace kavrel::onvif

Q_DECLARE_METATYPE(kavrel::onvif::Failure)
Q_DECLARE_METATYPE(kavrel::onvif::DiscoveredCamera)
