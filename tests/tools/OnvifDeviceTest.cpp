// kavrel-sim's ONVIF device seen through hand-written SOAP on raw sockets, so
// that it is checked apart from the viewer's own client library.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

extern "C" {
#include <libavutil/base64.h>
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}

#include "tests/support/SimulatorProcess.h"

namespace kavrel::test {
namespace {

constexpr int kOffset = 7200;  // far beyond the device's tolerance for Created

class Device : public SimulatorProcess {
  public:
    ~Device() { EXPECT_EQ(Stop(), 0) << Log(); }

    // The ONVIF and discovery ports from the device's event line.
    bool ReadPorts() {
        if (!WaitForLog("onvif device on 127.0.0.1:"))
            return false;
        for (const std::string& line : LogLines()) {
            if (const auto at = line.find("onvif device on 127.0.0.1:"); at != std::string::npos) {
                httpPort = std::atoi(line.c_str() + at + 26);
                udpPort = std::atoi(line.c_str() + line.rfind(' ') + 1);
            }
        }
        return httpPort > 0;
    }
    int httpPort = 0;
    int udpPort = 0;
};

std::string Security(std::time_t created) {
    char stamp[32];
    std::tm tm{};
    ::gmtime_r(&created, &tm);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm);
    const std::string nonce = "0123456789abcdef";
    const std::string material = nonce + stamp + "secret";
    uint8_t sha[20];
    AVSHA* context = av_sha_alloc();
    av_sha_init(context, 160);
    av_sha_update(context, reinterpret_cast<const uint8_t*>(material.data()), material.size());
    av_sha_final(context, sha);
    av_free(context);
    char digest[AV_BASE64_SIZE(20)], nonce64[AV_BASE64_SIZE(16)];
    av_base64_encode(digest, sizeof digest, sha, sizeof sha);
    av_base64_encode(nonce64, sizeof nonce64, reinterpret_cast<const uint8_t*>(nonce.data()), 16);
    return std::string("<s:Header><w:Security xmlns:w=\"wsse\"><w:UsernameToken>")
        .append("<w:Username>admin</w:Username><w:Password Type=\"...#PasswordDigest\">")
        .append(digest)
        .append("</w:Password><w:Nonce>")
        .append(nonce64)
        .append("</w:Nonce><u:Created xmlns:u=\"wsu\">")
        .append(stamp)
        .append("</u:Created></w:UsernameToken></w:Security></s:Header>");
}

// One POST; the whole reply (status line, headers, body) or empty.
std::string Post(int port, const std::string& header, const std::string& body) {
    const std::string envelope =
        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\">" + header + "<s:Body>" +
        body + "</s:Body></s:Envelope>";
    const std::string request =
        "POST /onvif/device_service HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
        "application/soap+xml\r\nContent-Length: " +
        std::to_string(envelope.size()) + "\r\n\r\n" + envelope;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
            reply.append(buffer, size_t(n));
    }
    ::close(fd);
    return reply;
}

class OnvifDeviceTest : public testing::Test {
  protected:
    void SetUp() override {
        m_log = testing::TempDir() + "onvif-" + std::to_string(::getpid()) + ".log";
        std::remove(m_log.c_str());
        ASSERT_TRUE(m_device.Start(
            {"--onvif-port", "0", "--discovery-port", "0", "--password", "secret", "--onvif-main",
             "rtsp://127.0.0.1:1/h264-d1", "--onvif-sub", "rtsp://127.0.0.1:1/h264",
             "--onvif-clock-offset", std::to_string(kOffset), "--onvif-log", m_log}))
            << m_device.Log();
        ASSERT_TRUE(m_device.ReadPorts());
    }
    void TearDown() override { std::remove(m_log.c_str()); }

    std::string Signed(const std::string& body) {
        return Post(m_device.httpPort, Security(std::time(nullptr) + kOffset), body);
    }

    Device m_device;
    std::string m_log;
};

TEST_F(OnvifDeviceTest, ClockOffsetDecidesWhichDigestsPass) {
    const std::string time = Post(m_device.httpPort, "", "<d:GetSystemDateAndTime xmlns:d=\"x\"/>");
    ASSERT_NE(time.find("200 OK"), std::string::npos) << time;
    const auto field = [&](const char* name) {
        const auto at = time.find(std::string("<tt:") + name + ">");
        return std::atoi(time.c_str() + at + std::strlen(name) + 5);
    };
    std::tm tm{};
    tm.tm_year = field("Year") - 1900;
    tm.tm_mon = field("Month") - 1;
    tm.tm_mday = field("Day");
    tm.tm_hour = field("Hour");
    tm.tm_min = field("Minute");
    tm.tm_sec = field("Second");
    EXPECT_NEAR(double(::timegm(&tm) - std::time(nullptr)), kOffset, 60) << time;

    const std::string profiles = Signed("<GetProfiles/>");
    EXPECT_NE(profiles.find("200 OK"), std::string::npos) << profiles;
    EXPECT_NE(profiles.find("token=\"main\""), std::string::npos);
    EXPECT_NE(profiles.find("token=\"sub\""), std::string::npos);

    const std::string refused =
        Post(m_device.httpPort, Security(std::time(nullptr)), "<GetProfiles/>");
    EXPECT_NE(refused.find("401"), std::string::npos) << refused;
    EXPECT_NE(refused.find("ter:NotAuthorized"), std::string::npos);
}

TEST_F(OnvifDeviceTest, PtzRequestsAreLoggedCanonically) {
    Signed(
        "<p:ContinuousMove xmlns:p=\"ptz\"><p:ProfileToken>main</p:ProfileToken><p:Velocity>"
        "<t:PanTilt xmlns:t=\"tt\" x=\"0.50\" y=\"-1\"/><t:Zoom xmlns:t=\"tt\" "
        "x=\"0\"/></p:Velocity></p:ContinuousMove>");
    Signed(
        "<Stop><ProfileToken>main</ProfileToken><PanTilt>true</PanTilt><Zoom>true</Zoom></Stop>");
    Post(m_device.httpPort, "", "<Stop><ProfileToken>main</ProfileToken></Stop>");
    std::ifstream file(m_log);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(),
              "ContinuousMove main pan=0.5 tilt=-1 zoom=0\nStop main pantilt=true "
              "zoom=true\nRefused Stop\n");
}

TEST_F(OnvifDeviceTest, AnswersUnicastProbe) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(m_device.udpPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string probe =
        "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"><e:Header><a:MessageID "
        "xmlns:a=\"wsa\">"
        "urn:uuid:42</a:MessageID></e:Header><e:Body><d:Probe "
        "xmlns:d=\"wsd\"><d:Types>dn:NetworkVideoTransmitter"
        "</d:Types></d:Probe></e:Body></e:Envelope>";
    ::sendto(fd, probe.data(), probe.size(), 0, reinterpret_cast<sockaddr*>(&address),
             sizeof address);
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1);
    char buffer[65536];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    ::close(fd);
    const std::string match(buffer, size_t(std::max<ssize_t>(n, 0)));
    EXPECT_NE(match.find("ProbeMatch>"), std::string::npos) << match;
    EXPECT_NE(match.find("urn:uuid:42</wsa:RelatesTo>"), std::string::npos);
    EXPECT_NE(match.find("http://127.0.0.1:" + std::to_string(m_device.httpPort) +
                         "/onvif/device_service"),
              std::string::npos);
    EXPECT_NE(match.find("hardware/Kavrel-Sim"), std::string::npos);
}

}  // namespace
}  // namespace kavrel::test
