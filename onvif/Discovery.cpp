#include "onvif/Discovery.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QUuid>

#include "onvif/Replies.h"

namespace kavrel::onvif {

namespace {
QString ScopeValue(const QStringList& scopes, const QString& prefix) {
    for (const QString& s : scopes) {
        if (s.startsWith(prefix)) {
            return QUrl::fromPercentEncoding(s.mid(prefix.size()).toUtf8());
        }
    }
    return {};
}
}  // namespace

Discovery::Discovery(QObject* parent) : QObject(parent) {
    m_window.setSingleShot(true);
    connect(&m_window, &QTimer::timeout, this, &Discovery::Finish);
}

Discovery::~Discovery() = default;

void Discovery::SetTarget(const QHostAddress& address, quint16 port) {
    m_address = address;
    m_port = port;
}

void Discovery::Probe(std::chrono::milliseconds window) {
    delete m_socket;
    m_seen.clear();
    m_socket = new QUdpSocket(this);
    connect(m_socket, &QUdpSocket::readyRead, this, &Discovery::ReadDatagrams);
    m_socket->bind(QHostAddress(QHostAddress::AnyIPv4), 0);
    const QString messageId =
        QStringLiteral("uuid:") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QByteArray probe =
        QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
            "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\""
            " xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
            " xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\""
            " xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\"><s:Header>"
            "<a:Action s:mustUnderstand=\"1\">"
            "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</a:Action>"
            "<a:MessageID>%1</a:MessageID>"
            "<a:To s:mustUnderstand=\"1\">urn:schemas-xmlsoap-org:ws:2005:04:discovery</a:To>"
            "</s:Header><s:Body><d:Probe><d:Types>dn:NetworkVideoTransmitter</d:Types>"
            "</d:Probe></s:Body></s:Envelope>")
            .arg(messageId)
            .toUtf8();
    m_socket->writeDatagram(probe, m_address, m_port);
    m_window.start(window);
}

void Discovery::ReadDatagrams() {
    while (m_socket != nullptr && m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram(65536);
        const auto matches = ParseProbeMatches(datagram.data());
        if (!matches) {
            continue;
        }
        for (const ProbeMatch& m : *matches) {
            if (m.xaddrs.empty()) {
                continue;
            }
            const QString key = m.endpoint.isEmpty() ? m.xaddrs.front().toString() : m.endpoint;
            if (m_seen.contains(key) || m_seen.size() >= 1024) {
                continue;
            }
            m_seen.insert(key);
            DiscoveredCamera camera;
            camera.deviceService = m.xaddrs.front();
            camera.host = camera.deviceService.host();
            camera.model = ScopeValue(m.scopes, "onvif://www.onvif.org/hardware/");
            camera.name = ScopeValue(m.scopes, "onvif://www.onvif.org/name/");
            emit Found(camera);
        }
    }
}

void Discovery::Finish() {
    if (m_socket != nullptr) {
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    emit Finished();
}

}  // namespace kavrel::onvif
