#pragma once
// Reading ONVIF replies: pure functions from a reply body to values, matching
// elements by local name (cameras vary their namespace prefixes).
//
// Every reply is untrusted. A body over kMaxReplyBytes, more than kMaxProfiles
// profiles or kMaxPresets presets, a text over kMaxTextChars or elements
// nested deeper than kMaxDepth make the parse fail (kBadReply for the caller),
// as does malformed XML.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>
#include <vector>

#include "onvif/OnvifTypes.h"

namespace kavrel::onvif {

inline constexpr qsizetype kMaxReplyBytes = 1 << 20;
inline constexpr int kMaxProfiles = 64;
inline constexpr int kMaxPresets = 256;
inline constexpr qsizetype kMaxTextChars = 1024;
inline constexpr int kMaxDepth = 64;

struct Fault {
    QString code, subcode, reason;  // local names of the codes, e.g. "Sender", "NotAuthorized"
};

struct ServiceAddresses {
    QUrl media, ptz, imaging;  // empty when the camera has no such service
};

struct ImagingOptions {
    bool focusContinuous = false;  // Move Continuous focus speed is offered
    bool hasIris = false;          // a manual iris range is offered
    double irisMin = 0, irisMax = 0;
};

struct ProbeMatch {
    QString endpoint;  // the device's endpoint reference address
    std::vector<QUrl> xaddrs;
    QStringList scopes;
};

// A SOAP fault in the body, if there is one.
std::optional<Fault> ParseFault(const QByteArray& body);
// GetSystemDateAndTime: the camera's UTC time.
std::optional<QDateTime> ParseSystemDateAndTime(const QByteArray& body);
// GetCapabilities or GetServices: the service addresses (http/https only).
std::optional<ServiceAddresses> ParseServices(const QByteArray& body);
// GetProfiles (streamUri stays empty).
std::optional<std::vector<Profile>> ParseProfiles(const QByteArray& body);
// GetStreamUri: rtsp/rtsps only.
std::optional<QUrl> ParseStreamUri(const QByteArray& body);
std::optional<std::vector<Preset>> ParsePresets(const QByteArray& body);
// GetOptions (focus, iris) or GetImagingSettings' iris; merges into `options`.
bool ParseImagingOptions(const QByteArray& body, ImagingOptions& options);
// GetImagingSettings: the current iris value.
std::optional<double> ParseIris(const QByteArray& body);
std::optional<std::vector<ProbeMatch>> ParseProbeMatches(const QByteArray& body);

}  // namespace kavrel::onvif
