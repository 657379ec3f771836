#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <functional>

#include "onvif/OnvifCamera.h"

namespace kavrel::onvif {
namespace {

// A camera's HTTP side: answers each POST by its SOAP action, and notes
// whether a request came while another was still unanswered.
class CameraStub : public QObject {
  public:
    struct Answer {
        int status = 200;
        QByteArray body;
        int holdMs = 0;  // answered this much later (to give an overtaking request its chance)
    };
    std::function<Answer(const QString& action)> answer;
    QStringList actions;
    QList<QByteArray> bodies;
    bool overlapped = false;

    CameraStub() {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, this, [this, s] { Read(s); });
            }
        });
    }
    QUrl Url() const {
        return QUrl(
            QStringLiteral("http://127.0.0.1:%1/onvif/device_service").arg(server.serverPort()));
    }

  private:
    void Read(QTcpSocket* s) {
        QByteArray& buffer = buffers[s];
        buffer += s->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            return;
        }
        const QByteArray head = buffer.left(end).toLower();
        const qsizetype at = head.indexOf("content-length:");
        const int length = head.mid(at + 15, head.indexOf("\r\n", at) - at - 15).trimmed().toInt();
        if (buffer.size() < end + 4 + length) {
            return;
        }
        const QByteArray type = buffer.mid(head.indexOf("action=\"") + 8, end);
        const QString action = QString::fromLatin1(type.left(type.indexOf('"')));
        bodies.push_back(buffer.mid(end + 4, length));
        buffer.remove(0, end + 4 + length);
        actions.push_back(action.section('/', -1));
        overlapped = overlapped || pending > 0;
        ++pending;
        const Answer a = answer(actions.back());
        QTimer::singleShot(a.holdMs, s, [this, s, a] {
            --pending;
            s->write("HTTP/1.1 " + QByteArray::number(a.status) +
                     " X\r\nContent-Type: application/soap+xml\r\nContent-Length: " +
                     QByteArray::number(a.body.size()) + "\r\n\r\n" + a.body);
        });
    }

    QTcpServer server;
    QHash<QTcpSocket*, QByteArray> buffers;
    int pending = 0;
};

QByteArray Wrap(const QByteArray& inner) {
    return "<s:Envelope xmlns:s='http://www.w3.org/2003/05/soap-envelope'><s:Body>" + inner +
           "</s:Body></s:Envelope>";
}

// A camera whose clock says 2001-01-01 00:00:00 and that has one PTZ profile.
CameraStub::Answer GoodCamera(const QString& action) {
    if (action == "GetSystemDateAndTime") {
        return {200, Wrap("<GetSystemDateAndTimeResponse><UTCDateTime><Date><Year>2001</Year>"
                          "<Month>1</Month><Day>1</Day></Date><Time><Hour>0</Hour><Minute>0"
                          "</Minute><Second>0</Second></Time></UTCDateTime>"
                          "</GetSystemDateAndTimeResponse>")};
    }
    if (action == "GetCapabilities") {
        return {200, Wrap("<Capabilities><PTZ><XAddr>/onvif/ptz</XAddr></PTZ></Capabilities>")};
    }
    if (action == "GetProfiles") {
        return {200, Wrap("<GetProfilesResponse><Profiles token='p0'><VideoEncoderConfiguration>"
                          "<Encoding>H264</Encoding><Resolution><Width>1280</Width><Height>720"
                          "</Height></Resolution></VideoEncoderConfiguration><PTZConfiguration/>"
                          "</Profiles></GetProfilesResponse>")};
    }
    if (action == "GetStreamUri") {
        return {200, Wrap("<MediaUri><Uri>rtsp://127.0.0.1/s0</Uri></MediaUri>")};
    }
    // The move is held so that a Stop sent beside it, not after it, would overtake it.
    return {200, Wrap("<Done/>"), action == "ContinuousMove" ? 200 : 0};
}

TEST(OnvifCamera, OpensWithTheCameraClockAndSendsCommandsInOrder) {
    CameraStub stub;
    stub.answer = GoodCamera;
    QNetworkAccessManager network;
    Camera camera(&network, stub.Url(), "admin", "pw");
    QSignalSpy opened(&camera, &Camera::Opened);
    camera.Open();
    ASSERT_TRUE(opened.wait(10000));
    ASSERT_TRUE(camera.HasPtz());
    EXPECT_TRUE(stub.bodies[1].contains(">2001-01-01T00:00:"));  // Created on the camera's clock
    EXPECT_FALSE(stub.bodies[1].contains("pw"));

    camera.ContinuousMove("p0", 0.5, 0, 0);
    camera.StopMove("p0");
    ASSERT_TRUE(QTest::qWaitFor([&] { return stub.actions.size() == 6; }, 10000));
    EXPECT_EQ(stub.actions.mid(4), QStringList({"ContinuousMove", "Stop"}));
    EXPECT_FALSE(stub.overlapped);
}

TEST(OnvifCamera, RefusedLoginEndsTheOpenAfterOneRequest) {
    CameraStub stub;
    stub.answer = [](const QString& action) {
        return action == "GetSystemDateAndTime" ? GoodCamera(action) : CameraStub::Answer{401, {}};
    };
    QNetworkAccessManager network;
    Camera camera(&network, stub.Url(), "admin", "wrong");
    QSignalSpy failed(&camera, &Camera::Failed);
    camera.Open();
    ASSERT_TRUE(failed.wait(10000));
    EXPECT_EQ(failed[0][0].value<Failure>(), Failure::kLoginRefused);
    EXPECT_EQ(stub.actions, QStringList({"GetSystemDateAndTime", "GetCapabilities"}));
}

}  // namespace
}  // namespace kavrel::onvif

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
