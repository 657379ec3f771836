#pragma once
// WS-Discovery of ONVIF cameras: one multicast Probe for network video
// transmitters, and the ProbeMatches that come back within a window.
// Runs on the owner's thread; nothing blocks.

#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <chrono>

#include "onvif/OnvifTypes.h"

class QUdpSocket;

namespace kavrel::onvif {

class Discovery : public QObject {
    Q_OBJECT
  public:
    explicit Discovery(QObject* parent = nullptr);
    ~Discovery() override;
    // Where the probe goes: 239.255.255.250:3702 unless set (tests: 127.0.0.1 and a port).
    void SetTarget(const QHostAddress& address, quint16 port);
    // Sends one WS-Discovery Probe (NetworkVideoTransmitter) and collects
    // ProbeMatches for `window`; each distinct device once. Nothing is sent
    // before this call.
    void Probe(std::chrono::milliseconds window = std::chrono::seconds(3));

  signals:
    void Found(const kavrel::onvif::DiscoveredCamera& camera);
    void Finished();

  private:
    void ReadDatagrams();
    void Finish();

    QHostAddress m_address{QStringLiteral("239.255.255.250")};
    quint16 m_port = 3702;
    QUdpSocket* m_socket = nullptr;  // child of this; exists while a probe runs
    QTimer m_window;
    QSet<QString> m_seen;  // endpoint addresses (or XAddrs) already announced
};

}  // namespace kavrel::onvif
