#include "source/RtspAddress.h"

#include "config/StreamUrl.h"
#include "platform/TextCodec.h"

namespace kavrel {
namespace {

// libavformat's buffer for "user:password" holds 128 bytes with its NUL.
constexpr size_t kMaxUserInfo = 127;

std::string PercentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = uint8_t(c);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

}  // namespace

std::optional<RtspAddress> ParseRtspAddress(std::string_view url, std::string_view userName,
                                            std::string_view password) {
    // The one reading of a URL that the settings dialog and the command line
    // also check, so that what they take is what plays.
    const std::optional<StreamUrl> parsed = ParseStreamUrl(FromUtf8(url));
    if (!parsed || parsed->onvif)  // an ONVIF device's address is no stream
        return std::nullopt;
    // Credentials in the URL win over the entry's; libavformat decodes them
    // once, so they go in encoded whatever they hold.
    std::string userInfo;
    if (!parsed->userName.empty()) {
        userInfo = PercentEncode(ToUtf8(parsed->userName));
        if (!parsed->password.empty())
            userInfo += ":" + PercentEncode(ToUtf8(parsed->password));
    } else if (!userName.empty()) {
        userInfo = PercentEncode(userName) + ":" + PercentEncode(password);
    }
    if (userInfo.size() > kMaxUserInfo)
        return std::nullopt;

    RtspAddress address;
    address.udp = parsed->udp;
    address.host = ToUtf8(parsed->host);
    const std::string scheme = parsed->secure ? "rtsps://" : "rtsp://";
    const std::string host =
        address.host.find(':') != std::string::npos ? "[" + address.host + "]" : address.host;
    const std::string rest =
        (parsed->port != 0 ? ":" + std::to_string(parsed->port) : "") + ToUtf8(parsed->path);
    address.url = scheme + (userInfo.empty() ? "" : userInfo + "@");
    address.hostAt = address.url.size();
    address.hostLength = host.size();
    address.url += host + rest;
    address.shownUrl = ToUtf8(RedactedUrl(FromUtf8(scheme + host + rest)));
    return address;
}

std::string WithHost(const RtspAddress& address, std::string_view numericHost) {
    std::string host(numericHost);
    if (host.find(':') != std::string::npos)
        host = "[" + host + "]";
    std::string url = address.url;
    url.replace(address.hostAt, address.hostLength, host);
    return url;
}

}  // namespace kavrel
