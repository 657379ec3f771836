#include "onvif/Soap.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QXmlStreamWriter>

namespace kavrel::onvif {

namespace {
constexpr char kSoapNs[] = "http://www.w3.org/2003/05/soap-envelope";
constexpr char kWsseNs[] =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
constexpr char kWsuNs[] =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";
constexpr char kDigestType[] =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-username-token-profile-1.0"
    "#PasswordDigest";
constexpr char kBase64Type[] =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-soap-message-security-1.0"
    "#Base64Binary";
}  // namespace

QByteArray PasswordDigest(const QByteArray& nonce, const QString& created,
                          const QString& password) {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(nonce);
    hash.addData(created.toUtf8());
    hash.addData(password.toUtf8());
    return hash.result().toBase64();
}

QByteArray Envelope(const QByteArray& body, const Credentials* credentials) {
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.writeStartDocument();
    w.writeNamespace(kSoapNs, "s");
    w.writeNamespace("http://www.onvif.org/ver10/device/wsdl", "tds");
    w.writeNamespace("http://www.onvif.org/ver10/media/wsdl", "trt");
    w.writeNamespace("http://www.onvif.org/ver20/ptz/wsdl", "tptz");
    w.writeNamespace("http://www.onvif.org/ver20/imaging/wsdl", "timg");
    w.writeNamespace("http://www.onvif.org/ver10/schema", "tt");
    w.writeStartElement(kSoapNs, "Envelope");
    if (credentials != nullptr && !credentials->user.isEmpty()) {
        QByteArray nonce = credentials->nonce;
        if (nonce.isEmpty()) {
            nonce.resize(16);
            QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(nonce.data()), 4);
        }
        // Whole seconds: some cameras refuse fractions in Created.
        const QString created =
            credentials->created.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
        w.writeStartElement(kSoapNs, "Header");
        w.writeNamespace(kWsseNs, "wsse");
        w.writeNamespace(kWsuNs, "wsu");
        w.writeStartElement(kWsseNs, "Security");
        w.writeAttribute(kSoapNs, "mustUnderstand", "true");
        w.writeStartElement(kWsseNs, "UsernameToken");
        w.writeTextElement(kWsseNs, "Username", credentials->user);
        w.writeStartElement(kWsseNs, "Password");
        w.writeAttribute("Type", kDigestType);
        w.writeCharacters(
            QString::fromLatin1(PasswordDigest(nonce, created, credentials->password)));
        w.writeEndElement();
        w.writeStartElement(kWsseNs, "Nonce");
        w.writeAttribute("EncodingType", kBase64Type);
        w.writeCharacters(QString::fromLatin1(nonce.toBase64()));
        w.writeEndElement();
        w.writeTextElement(kWsuNs, "Created", created);
        w.writeEndElement();  // UsernameToken
        w.writeEndElement();  // Security
        w.writeEndElement();  // Header
    }
    w.writeStartElement(kSoapNs, "Body");
    w.writeCharacters(QString());  // closes the start tag before the raw body
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    // The operation is written by its caller; it goes inside the empty Body.
    const QByteArray emptyBody = "<s:Body></s:Body>";
    const qsizetype at = out.lastIndexOf(emptyBody);
    if (at >= 0) {
        out.replace(at, emptyBody.size(), "<s:Body>" + body + "</s:Body>");
    }
    return out;
}

}  // namespace kavrel::onvif
