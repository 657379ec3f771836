#include "tools/sim/OnvifDevice.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <vector>

extern "C" {
#include <libavutil/base64.h>
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}

namespace kavrel::sim {
namespace {

constexpr size_t kMaxRequest = 256 * 1024;
constexpr int kReadDeadlineMs = 3000;
constexpr long kCreatedWindowSeconds = 5;

// The text of the first element whose local name is `name`, any prefix; empty when absent.
std::string ElementText(const std::string& xml, const std::string& name, size_t* at = nullptr) {
    size_t pos = 0;
    while ((pos = xml.find(name, pos)) != std::string::npos) {
        const size_t start = pos;
        pos += name.size();
        if (start == 0 || (xml[start - 1] != '<' && xml[start - 1] != ':'))
            continue;
        size_t open = start;
        while (open > 0 && xml[open - 1] != '<')
            --open;
        if (open == 0 || xml[open] == '/')
            continue;
        if (pos >= xml.size() || (xml[pos] != '>' && xml[pos] != ' ' && xml[pos] != '/'))
            continue;
        const size_t close = xml.find('>', pos);
        if (close == std::string::npos)
            return {};
        if (at)
            *at = open - 1;
        if (xml[close - 1] == '/')
            return {};
        const size_t end = xml.find("</", close);
        return end == std::string::npos ? std::string() : xml.substr(close + 1, end - close - 1);
    }
    return {};
}

bool HasElement(const std::string& xml, const std::string& name) {
    size_t at = std::string::npos;
    ElementText(xml, name, &at);
    return at != std::string::npos;
}

// The value of `attribute` on the first element named `name`.
std::string Attribute(const std::string& xml, const std::string& name,
                      const std::string& attribute) {
    size_t at = std::string::npos;
    ElementText(xml, name, &at);
    if (at == std::string::npos)
        return {};
    const size_t close = xml.find('>', at);
    const std::string tag = xml.substr(at, close - at);
    const size_t a = tag.find(" " + attribute + "=\"");
    if (a == std::string::npos)
        return {};
    const size_t from = a + attribute.size() + 3;
    const size_t to = tag.find('"', from);
    return to == std::string::npos ? std::string() : tag.substr(from, to - from);
}

// The local name of the Body's first child element.
std::string Operation(const std::string& xml) {
    size_t at = std::string::npos;
    ElementText(xml, "Body", &at);
    if (at == std::string::npos)
        return {};
    size_t pos = xml.find('>', at);
    while (pos != std::string::npos) {
        pos = xml.find('<', pos);
        if (pos == std::string::npos || pos + 1 >= xml.size())
            return {};
        if (xml[pos + 1] == '?' || xml[pos + 1] == '!') {
            pos = xml.find('>', pos);
            continue;
        }
        size_t end = pos + 1;
        while (end < xml.size() && xml[end] != ' ' && xml[end] != '>' && xml[end] != '/')
            ++end;
        std::string qname = xml.substr(pos + 1, end - pos - 1);
        const size_t colon = qname.find(':');
        return colon == std::string::npos ? qname : qname.substr(colon + 1);
    }
    return {};
}

std::string Trim(std::string s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    const auto last = s.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
}

// "0.5", "0", "-1": the shortest form, so log lines compare exactly.
std::string Number(const std::string& text) {
    if (text.empty())
        return "0";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", std::strtod(text.c_str(), nullptr));
    return buffer;
}

bool ParseUtc(const std::string& text, std::time_t& out) {
    std::tm tm{};
    if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec) != 6)
        return false;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    out = ::timegm(&tm);
    return out != -1;
}

std::string Envelope(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" "
           "xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\" "
           "xmlns:tptz=\"http://www.onvif.org/ver20/ptz/wsdl\" "
           "xmlns:timg=\"http://www.onvif.org/ver20/imaging/wsdl\" "
           "xmlns:tt=\"http://www.onvif.org/ver10/schema\" "
           "xmlns:ter=\"http://www.onvif.org/ver10/error\">"
           "<env:Body>" +
           body + "</env:Body></env:Envelope>";
}

std::string SoapFault(const std::string& code, const std::string& subcode,
                      const std::string& text) {
    return Envelope("<env:Fault><env:Code><env:Value>" + code +
                    "</env:Value><env:Subcode><env:Value>" + subcode +
                    "</env:Value></env:Subcode></env:Code><env:Reason><env:Text "
                    "xml:lang=\"en\">" +
                    text + "</env:Text></env:Reason></env:Fault>");
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

OnvifDevice::OnvifDevice(const SimOptions& options) : m_options(options) {
    m_presets["1"] = "Home";
}

OnvifDevice::~OnvifDevice() {
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_stopFd, &one, sizeof one);
        m_thread.join();
    }
    for (int fd : {m_httpFd, m_udpFd, m_stopFd})
        if (fd >= 0)
            ::close(fd);
    if (m_log)
        std::fclose(m_log);
}

bool OnvifDevice::Start(std::string& error) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (::inet_pton(AF_INET, m_options.address.c_str(), &address.sin_addr) != 1) {
        error = "not an IPv4 address: " + m_options.address;
        return false;
    }
    m_httpFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(m_httpFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    address.sin_port = htons(uint16_t(m_options.onvifPort));
    socklen_t length = sizeof address;
    if (::bind(m_httpFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_httpFd, 16) != 0 ||
        ::getsockname(m_httpFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = std::string("cannot listen for ONVIF: ") + std::strerror(errno);
        return false;
    }
    m_boundAddress = m_options.address + ":" + std::to_string(ntohs(address.sin_port));
    if (m_options.discoveryPort >= 0) {
        m_udpFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ::setsockopt(m_udpFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in udp{};
        udp.sin_family = AF_INET;
        udp.sin_port = htons(uint16_t(m_options.discoveryPort));
        udp.sin_addr = m_options.discoveryMulticast ? in_addr{htonl(INADDR_ANY)} : address.sin_addr;
        length = sizeof udp;
        if (::bind(m_udpFd, reinterpret_cast<sockaddr*>(&udp), sizeof udp) != 0 ||
            ::getsockname(m_udpFd, reinterpret_cast<sockaddr*>(&udp), &length) != 0) {
            error = std::string("cannot bind the discovery port: ") + std::strerror(errno);
            return false;
        }
        m_discoveryPort = ntohs(udp.sin_port);
        if (m_options.discoveryMulticast) {
            ip_mreq group{};
            ::inet_pton(AF_INET, "239.255.255.250", &group.imr_multiaddr);
            group.imr_interface.s_addr = htonl(INADDR_ANY);
            if (::setsockopt(m_udpFd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) != 0) {
                error = std::string("cannot join the discovery group: ") + std::strerror(errno);
                return false;
            }
        }
    }
    if (!m_options.onvifLog.empty()) {
        m_log = std::fopen(m_options.onvifLog.c_str(), "a");
        if (!m_log) {
            error = "cannot open " + m_options.onvifLog + ": " + std::strerror(errno);
            return false;
        }
    }
    m_stopFd = ::eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread([this] { Run(); });
    return true;
}

std::string OnvifDevice::Summary() const {
    return "onvif: " + std::to_string(m_requests.load()) + " request(s), " +
           std::to_string(m_logins.load()) + " with valid credentials, " +
           std::to_string(m_refused.load()) + " refused";
}

void OnvifDevice::Run() {
    for (;;) {
        pollfd fds[3] = {{m_stopFd, POLLIN, 0}, {m_httpFd, POLLIN, 0}, {m_udpFd, POLLIN, 0}};
        if (::poll(fds, m_udpFd >= 0 ? 3 : 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents)
            return;
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(m_httpFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                ServeConnection(fd);
                ::close(fd);
            }
        }
        if (m_udpFd >= 0 && (fds[2].revents & POLLIN))
            AnswerProbe();
    }
}

void OnvifDevice::ServeConnection(int fd) {
    // One request per connection, answered with Connection: close; the device
    // serves one client at a time, so a slow client is cut off by the deadline.
    std::string request;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadDeadlineMs);
    size_t wanted = std::string::npos;
    for (;;) {
        const size_t headerEnd = request.find("\r\n\r\n");
        if (headerEnd != std::string::npos && wanted == std::string::npos) {
            std::string headers = request.substr(0, headerEnd);
            for (auto& c : headers)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            const size_t cl = headers.find("content-length:");
            const size_t body =
                cl == std::string::npos ? 0 : std::strtoul(headers.c_str() + cl + 15, nullptr, 10);
            if (body > kMaxRequest) {
                const std::string reply =
                    "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: "
                    "close\r\n\r\n";
                [[maybe_unused]] const ssize_t n =
                    ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
                return;
            }
            wanted = headerEnd + 4 + body;
        }
        if (wanted != std::string::npos && request.size() >= wanted)
            break;
        if (request.size() > kMaxRequest + 16384)
            return;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, int(left)) <= 0)
            return;
        char buffer[16384];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        request.append(buffer, size_t(n));
    }
    const size_t headerEnd = request.find("\r\n\r\n");
    int status = 200;
    const std::string body = Handle(request.substr(headerEnd + 4, wanted - headerEnd - 4), status);
    const char* reason = status == 200   ? "OK"
                         : status == 401 ? "Unauthorized"
                         : status == 400 ? "Bad Request"
                                         : "Internal Server Error";
    const std::string reply =
        "HTTP/1.1 " + std::to_string(status) + " " + reason +
        "\r\nContent-Type: application/soap+xml; charset=utf-8\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    size_t sent = 0;
    while (sent < reply.size()) {
        const ssize_t n = ::send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += size_t(n);
    }
    ::shutdown(fd, SHUT_WR);
}

void OnvifDevice::AnswerProbe() {
    char buffer[65536];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = ::recvfrom(m_udpFd, buffer, sizeof buffer - 1, 0,
                                 reinterpret_cast<sockaddr*>(&from), &length);
    if (n <= 0)
        return;
    const std::string probe(buffer, size_t(n));
    if (Operation(probe) != "Probe")
        return;
    const std::string types = ElementText(probe, "Types");
    if (!types.empty() && types.find("NetworkVideoTransmitter") == std::string::npos)
        return;
    const std::string relates = Trim(ElementText(probe, "MessageID"));
    const std::string reply =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
        "xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
        "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" "
        "xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\"><env:Header>"
        "<wsa:MessageID>urn:uuid:6b1f0c3e-0000-4000-8000-" +
        std::to_string(100000000000 + m_requests.load()) + "</wsa:MessageID><wsa:RelatesTo>" +
        Escape(relates) +
        "</wsa:RelatesTo><wsa:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</"
        "wsa:To>"
        "<wsa:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</wsa:Action>"
        "</env:Header><env:Body><d:ProbeMatches><d:ProbeMatch><wsa:EndpointReference><wsa:Address>"
        "urn:uuid:6b1f0c3e-5a3d-4c1e-9d7a-kavrelsim0001</wsa:Address></wsa:EndpointReference>"
        "<d:Types>dn:NetworkVideoTransmitter</d:Types><d:Scopes>onvif://www.onvif.org/type/"
        "video_encoder "
        "onvif://www.onvif.org/Profile/Streaming onvif://www.onvif.org/hardware/Kavrel-Sim "
        "onvif://www.onvif.org/name/Kavrel-Simulator</d:Scopes><d:XAddrs>" +
        DeviceUrl() +
        "</d:XAddrs><d:MetadataVersion>1</d:MetadataVersion></d:ProbeMatch></d:ProbeMatches></"
        "env:Body></env:Envelope>";
    ::sendto(m_udpFd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
}

std::string OnvifDevice::DeviceUrl() const {
    return "http://" + m_boundAddress + "/onvif/device_service";
}

bool OnvifDevice::Authorized(const std::string& body) const {
    if (Trim(ElementText(body, "Username")) != m_options.user)
        return false;
    if (Attribute(body, "Password", "Type").find("PasswordDigest") == std::string::npos)
        return false;
    const std::string digest = Trim(ElementText(body, "Password"));
    const std::string nonce64 = Trim(ElementText(body, "Nonce"));
    const std::string created = Trim(ElementText(body, "Created"));
    std::time_t createdTime = 0;
    if (!ParseUtc(created, createdTime))
        return false;
    const std::time_t deviceNow = std::time(nullptr) + m_options.onvifClockOffset;
    if (std::labs(long(createdTime - deviceNow)) > kCreatedWindowSeconds)
        return false;
    std::vector<uint8_t> material(nonce64.size() + 4);
    const int nonceLength =
        av_base64_decode(material.data(), nonce64.c_str(), int(material.size()));
    if (nonceLength < 0)
        return false;
    material.resize(size_t(nonceLength));
    material.insert(material.end(), created.begin(), created.end());
    material.insert(material.end(), m_options.password.begin(), m_options.password.end());
    uint8_t sha[20];
    AVSHA* context = av_sha_alloc();
    av_sha_init(context, 160);
    av_sha_update(context, material.data(), material.size());
    av_sha_final(context, sha);
    av_free(context);
    char expected[AV_BASE64_SIZE(20)];
    av_base64_encode(expected, sizeof expected, sha, sizeof sha);
    return digest == expected;
}

void OnvifDevice::Log(const std::string& line) {
    if (!m_log)
        return;
    std::fputs((line + "\n").c_str(), m_log);
    std::fflush(m_log);
}

std::string OnvifDevice::Profiles() const {
    std::string out;
    const auto profile = [&](const char* token, int width, int height) {
        out +=
            std::string("<trt:Profiles token=\"") + token + "\" fixed=\"true\"><tt:Name>" + token +
            "</tt:Name><tt:VideoSourceConfiguration token=\"vsc0\"><tt:Name>vsc0</tt:Name>"
            "<tt:UseCount>2</tt:UseCount><tt:SourceToken>vs0</tt:SourceToken>"
            "<tt:Bounds x=\"0\" y=\"0\" width=\"704\" "
            "height=\"576\"/></tt:VideoSourceConfiguration>"
            "<tt:VideoEncoderConfiguration token=\"vec_" +
            token + "\"><tt:Name>vec_" + token +
            "</tt:Name><tt:UseCount>1</tt:UseCount><tt:Encoding>H264</"
            "tt:Encoding><tt:Resolution><tt:Width>" +
            std::to_string(width) + "</tt:Width><tt:Height>" + std::to_string(height) +
            "</tt:Height></tt:Resolution><tt:Quality>5</"
            "tt:Quality><tt:RateControl><tt:FrameRateLimit>25"
            "</tt:FrameRateLimit><tt:EncodingInterval>1</tt:EncodingInterval><tt:BitrateLimit>1024"
            "</tt:BitrateLimit></tt:RateControl><tt:H264><tt:GovLength>50</"
            "tt:GovLength><tt:H264Profile>Main"
            "</tt:H264Profile></tt:H264><tt:SessionTimeout>PT60S</tt:SessionTimeout></"
            "tt:VideoEncoderConfiguration>";
        if (m_options.onvifPtz) {
            out +=
                "<tt:PTZConfiguration "
                "token=\"ptz0\"><tt:Name>ptz0</tt:Name><tt:UseCount>2</tt:UseCount>"
                "<tt:NodeToken>node0</tt:NodeToken><tt:DefaultContinuousPanTiltVelocitySpace>"
                "http://www.onvif.org/ver10/tptz/PanTiltSpaces/VelocityGenericSpace"
                "</tt:DefaultContinuousPanTiltVelocitySpace><tt:DefaultContinuousZoomVelocitySpace>"
                "http://www.onvif.org/ver10/tptz/ZoomSpaces/VelocityGenericSpace"
                "</tt:DefaultContinuousZoomVelocitySpace></tt:PTZConfiguration>";
        }
        out += "</trt:Profiles>";
    };
    profile("main", 704, 576);
    if (!m_options.onvifSub.empty())
        profile("sub", 352, 288);
    return out;
}

std::string OnvifDevice::Handle(const std::string& body, int& status) {
    ++m_requests;
    status = 200;
    const std::string op = Operation(body);
    if (op.empty()) {
        status = 400;
        return SoapFault("env:Sender", "ter:WellFormed", "not a SOAP request");
    }
    const std::string base = "http://" + m_boundAddress + "/onvif/";
    if (op == "GetSystemDateAndTime") {
        const std::time_t now = std::time(nullptr) + m_options.onvifClockOffset;
        std::tm tm{};
        ::gmtime_r(&now, &tm);
        const auto n = [](int v) { return std::to_string(v); };
        return Envelope(
            "<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:DateTimeType>Manual"
            "</tt:DateTimeType><tt:DaylightSavings>false</tt:DaylightSavings><tt:TimeZone><tt:TZ>"
            "UTC0</tt:TZ></tt:TimeZone><tt:UTCDateTime><tt:Time><tt:Hour>" +
            n(tm.tm_hour) + "</tt:Hour><tt:Minute>" + n(tm.tm_min) + "</tt:Minute><tt:Second>" +
            n(tm.tm_sec) + "</tt:Second></tt:Time><tt:Date><tt:Year>" + n(tm.tm_year + 1900) +
            "</tt:Year><tt:Month>" + n(tm.tm_mon + 1) + "</tt:Month><tt:Day>" + n(tm.tm_mday) +
            "</tt:Day></tt:Date></tt:UTCDateTime></tds:SystemDateAndTime></"
            "tds:GetSystemDateAndTimeResponse>");
    }
    if (!Authorized(body)) {
        ++m_refused;
        Log("Refused " + op);
        status = 401;
        return SoapFault("env:Sender", "ter:NotAuthorized", "Sender not Authorized");
    }
    ++m_logins;
    const std::string ptzPath = base + "ptz_service", imagingPath = base + "imaging_service";
    if (op == "GetCapabilities") {
        std::string caps = "<tt:Device><tt:XAddr>" + base +
                           "device_service</tt:XAddr></tt:Device>"
                           "<tt:Imaging><tt:XAddr>" +
                           imagingPath + "</tt:XAddr></tt:Imaging>";
        if (!m_options.onvifImaging)
            caps = "<tt:Device><tt:XAddr>" + base + "device_service</tt:XAddr></tt:Device>";
        caps += "<tt:Media><tt:XAddr>" + base +
                "media_service</tt:XAddr><tt:StreamingCapabilities>"
                "<tt:RTPMulticast>false</tt:RTPMulticast><tt:RTP_TCP>true</"
                "tt:RTP_TCP><tt:RTP_RTSP_TCP>true"
                "</tt:RTP_RTSP_TCP></tt:StreamingCapabilities></tt:Media>";
        if (m_options.onvifPtz)
            caps += "<tt:PTZ><tt:XAddr>" + ptzPath + "</tt:XAddr></tt:PTZ>";
        return Envelope("<tds:GetCapabilitiesResponse><tds:Capabilities>" + caps +
                        "</tds:Capabilities></tds:GetCapabilitiesResponse>");
    }
    if (op == "GetServices") {
        const auto service = [&](const char* ns, const std::string& path) {
            return std::string("<tds:Service><tds:Namespace>") + ns +
                   "</tds:Namespace><tds:XAddr>" + path +
                   "</tds:XAddr><tds:Version><tt:Major>2</tt:Major><tt:Minor>0</tt:Minor></"
                   "tds:Version></tds:Service>";
        };
        std::string services =
            service("http://www.onvif.org/ver10/device/wsdl", base + "device_service") +
            service("http://www.onvif.org/ver10/media/wsdl", base + "media_service");
        if (m_options.onvifPtz)
            services += service("http://www.onvif.org/ver20/ptz/wsdl", ptzPath);
        if (m_options.onvifImaging)
            services += service("http://www.onvif.org/ver20/imaging/wsdl", imagingPath);
        return Envelope("<tds:GetServicesResponse>" + services + "</tds:GetServicesResponse>");
    }
    if (op == "GetDeviceInformation") {
        return Envelope(
            "<tds:GetDeviceInformationResponse><tds:Manufacturer>Kavrel</tds:Manufacturer>"
            "<tds:Model>Kavrel-Sim</tds:Model><tds:FirmwareVersion>1.0</tds:FirmwareVersion>"
            "<tds:SerialNumber>0001</tds:SerialNumber><tds:HardwareId>sim</tds:HardwareId>"
            "</tds:GetDeviceInformationResponse>");
    }
    if (op == "GetProfiles")
        return Envelope("<trt:GetProfilesResponse>" + Profiles() + "</trt:GetProfilesResponse>");
    if (op == "GetStreamUri") {
        const std::string token = Trim(ElementText(body, "ProfileToken"));
        const std::string uri = token == "main" ? m_options.onvifMain
                                : (token == "sub" && !m_options.onvifSub.empty())
                                    ? m_options.onvifSub
                                    : std::string("-");
        if (uri == "-") {
            status = 400;
            return SoapFault("env:Sender", "ter:InvalidArgVal", "no such profile");
        }
        return Envelope(
            "<trt:GetStreamUriResponse><trt:MediaUri><tt:Uri>" + Escape(uri) +
            "</tt:Uri><tt:InvalidAfterConnect>false</tt:InvalidAfterConnect><tt:InvalidAfterReboot>"
            "false</tt:InvalidAfterReboot><tt:Timeout>PT0S</tt:Timeout></trt:MediaUri>"
            "</trt:GetStreamUriResponse>");
    }
    const std::string profile = Trim(ElementText(body, "ProfileToken"));
    const bool ptzOp = op == "ContinuousMove" || op == "GetPresets" || op == "GotoPreset" ||
                       op == "SetPreset" || op == "RemovePreset" || op == "GetStatus" ||
                       (op == "Stop" && !HasElement(body, "VideoSourceToken"));
    if (ptzOp && m_options.onvifPtz) {
        if (op == "ContinuousMove") {
            Log("ContinuousMove " + profile + " pan=" + Number(Attribute(body, "PanTilt", "x")) +
                " tilt=" + Number(Attribute(body, "PanTilt", "y")) +
                " zoom=" + Number(Attribute(body, "Zoom", "x")));
            return Envelope("<tptz:ContinuousMoveResponse/>");
        }
        if (op == "Stop") {
            const auto flag = [&](const char* name) {
                const std::string v = Trim(ElementText(body, name));
                return v.empty() ? std::string("true") : v;
            };
            Log("Stop " + profile + " pantilt=" + flag("PanTilt") + " zoom=" + flag("Zoom"));
            return Envelope("<tptz:StopResponse/>");
        }
        if (op == "GetPresets") {
            Log("GetPresets " + profile);
            std::string presets;
            for (const auto& [token, name] : m_presets)
                presets += "<tptz:Preset token=\"" + Escape(token) + "\"><tt:Name>" + Escape(name) +
                           "</tt:Name></tptz:Preset>";
            return Envelope("<tptz:GetPresetsResponse>" + presets + "</tptz:GetPresetsResponse>");
        }
        if (op == "GotoPreset") {
            const std::string token = Trim(ElementText(body, "PresetToken"));
            Log("GotoPreset " + profile + " " + token);
            if (!m_presets.count(token)) {
                status = 400;
                return SoapFault("env:Sender", "ter:NoToken", "no such preset");
            }
            return Envelope("<tptz:GotoPresetResponse/>");
        }
        if (op == "SetPreset") {
            const std::string name = Trim(ElementText(body, "PresetName"));
            std::string token = Trim(ElementText(body, "PresetToken"));
            Log("SetPreset " + profile + " \"" + name + "\"" + (token.empty() ? "" : " " + token));
            if (token.empty())
                token = std::to_string(++m_nextPreset);
            if (m_presets.size() >= 100 && !m_presets.count(token)) {
                status = 400;
                return SoapFault("env:Receiver", "ter:TooManyPresets", "preset list full");
            }
            m_presets[token] = name;
            return Envelope("<tptz:SetPresetResponse><tptz:PresetToken>" + Escape(token) +
                            "</tptz:PresetToken></tptz:SetPresetResponse>");
        }
        if (op == "RemovePreset") {
            const std::string token = Trim(ElementText(body, "PresetToken"));
            Log("RemovePreset " + profile + " " + token);
            m_presets.erase(token);
            return Envelope("<tptz:RemovePresetResponse/>");
        }
        return Envelope(
            "<tptz:GetStatusResponse><tptz:PTZStatus><tt:MoveStatus><tt:PanTilt>IDLE</tt:PanTilt>"
            "<tt:Zoom>IDLE</tt:Zoom></tt:MoveStatus></tptz:PTZStatus></tptz:GetStatusResponse>");
    }
    const std::string source = Trim(ElementText(body, "VideoSourceToken"));
    if (m_options.onvifImaging && !ptzOp) {
        if (op == "GetOptions") {
            return Envelope(
                "<timg:GetOptionsResponse><timg:ImagingOptions><tt:Exposure><tt:Mode>MANUAL</"
                "tt:Mode>"
                "<tt:Iris><tt:Min>-10</tt:Min><tt:Max>0</tt:Max></tt:Iris></tt:Exposure><tt:Focus>"
                "<tt:AutoFocusModes>MANUAL</tt:AutoFocusModes></tt:Focus></timg:ImagingOptions>"
                "</timg:GetOptionsResponse>");
        }
        if (op == "GetMoveOptions") {
            return Envelope(
                "<timg:GetMoveOptionsResponse><timg:MoveOptions><tt:Continuous><tt:Speed><tt:Min>-1"
                "</tt:Min><tt:Max>1</tt:Max></tt:Speed></tt:Continuous></timg:MoveOptions>"
                "</timg:GetMoveOptionsResponse>");
        }
        if (op == "Move") {
            Log("FocusMove " + source + " speed=" + Number(Trim(ElementText(body, "Speed"))));
            return Envelope("<timg:MoveResponse/>");
        }
        if (op == "Stop") {
            Log("FocusStop " + source);
            return Envelope("<timg:StopResponse/>");
        }
        if (op == "GetImagingSettings") {
            return Envelope(
                "<timg:GetImagingSettingsResponse><timg:ImagingSettings><tt:Exposure><tt:Mode>"
                "MANUAL"
                "</tt:Mode><tt:Iris>-5</tt:Iris></tt:Exposure><tt:Focus><tt:AutoFocusMode>MANUAL"
                "</tt:AutoFocusMode></tt:Focus></timg:ImagingSettings></"
                "timg:GetImagingSettingsResponse>");
        }
        if (op == "SetImagingSettings") {
            Log("SetImagingSettings " + source +
                " iris=" + Number(Trim(ElementText(body, "Iris"))));
            return Envelope("<timg:SetImagingSettingsResponse/>");
        }
    }
    status = 400;
    return SoapFault("env:Receiver", "ter:ActionNotSupported",
                     "action not supported: " + Escape(op));
}

}  // namespace kavrel::sim
