#pragma once
// Writing SOAP 1.2 requests for ONVIF services, with the WS-UsernameToken
// header (PasswordDigest) when credentials are given. Pure functions.

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace kavrel::onvif {

// Base64(SHA1(nonce + created + password)), nonce as raw bytes.
QByteArray PasswordDigest(const QByteArray& nonce, const QString& created, const QString& password);

struct Credentials {
    QString user, password;
    QDateTime created;  // UTC, our clock plus the camera's offset
    QByteArray nonce;   // random per request; empty: one is drawn
};

// An envelope around `body` (already serialised XML of the operation, with
// its namespace prefixes declared on the envelope: tds, trt, tptz, timg, tt).
// No security header when `credentials` is null or its user empty.
QByteArray Envelope(const QByteArray& body, const Credentials* credentials);

}  // namespace kavrel::onvif
