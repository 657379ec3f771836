#include "source/RtspAddress.h"

#include <algorithm>

namespace kavrel {
namespace {

// libavformat's buffer for "user:password" holds 128 bytes with its NUL.
constexpr size_t kMaxUserInfo = 127;

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (Lower(text[i]) != prefix[i])
            return false;
    }
    return true;
}

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

// The scheme's length including "://"; 0 when it is neither rtsp nor rtsps.
size_t SchemeLength(std::string_view url) {
    if (StartsWithNoCase(url, "rtsp://"))
        return 7;
    if (StartsWithNoCase(url, "rtsps://"))
        return 8;
    return 0;
}

// libavformat's split: the authority ends at the first '/', '?' or '#', the
// credentials at its last '@'.
size_t AuthorityEnd(std::string_view url, size_t from) {
    const size_t end = url.find_first_of("/?#", from);
    return end == std::string_view::npos ? url.size() : end;
}

}  // namespace

std::optional<RtspAddress> ParseRtspAddress(std::string_view url, std::string_view userName,
                                            std::string_view password) {
    RtspAddress address;
    constexpr std::string_view kUdp = "#udp";
    if (url.size() >= kUdp.size() && StartsWithNoCase(url.substr(url.size() - kUdp.size()), kUdp)) {
        address.udp = true;
        url.remove_suffix(kUdp.size());
    }
    const size_t schemeLength = SchemeLength(url);
    if (schemeLength == 0)
        return std::nullopt;
    // libavformat compares the scheme as written: "RTSPS" would lose its TLS.
    std::string scheme(url.substr(0, schemeLength));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), Lower);

    const size_t authorityEnd = AuthorityEnd(url, schemeLength);
    const std::string_view authority = url.substr(schemeLength, authorityEnd - schemeLength);
    const size_t at = authority.rfind('@');
    std::string userInfo;
    std::string_view hostPort = authority;
    if (at != std::string_view::npos) {
        userInfo = std::string(authority.substr(0, at));
        hostPort = authority.substr(at + 1);
    } else if (!userName.empty()) {
        userInfo = PercentEncode(userName) + ":" + PercentEncode(password);
    }
    if (userInfo.size() > kMaxUserInfo)
        return std::nullopt;

    size_t hostLength = 0;
    if (!hostPort.empty() && hostPort[0] == '[') {
        const size_t close = hostPort.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        address.host = std::string(hostPort.substr(1, close - 1));
        hostLength = close + 1;
    } else {
        hostLength = std::min(hostPort.find(':'), hostPort.size());
        address.host = std::string(hostPort.substr(0, hostLength));
    }
    if (address.host.empty())
        return std::nullopt;

    const std::string_view rest = url.substr(authorityEnd);
    address.url = scheme + (userInfo.empty() ? "" : userInfo + "@");
    address.hostAt = address.url.size();
    address.hostLength = hostLength;
    address.url += std::string(hostPort) + std::string(rest);
    address.shownUrl = RedactUrl(scheme + std::string(hostPort) + std::string(rest));
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

std::string RedactUrl(std::string_view url) {
    const size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos)
        return "***";
    const size_t from = schemeEnd + 3;
    const size_t authorityEnd = AuthorityEnd(url, from);
    const size_t at = url.substr(from, authorityEnd - from).rfind('@');
    std::string shown(url.substr(0, from));
    if (at != std::string_view::npos)
        shown += "***@" + std::string(url.substr(from + at + 1, authorityEnd - from - at - 1));
    else
        shown += std::string(url.substr(from, authorityEnd - from));
    const std::string_view rest = url.substr(authorityEnd);
    const size_t query = rest.find('?');
    shown += std::string(rest.substr(0, query));
    if (query != std::string_view::npos)
        shown += "?***";
    return shown;
}

}  // namespace kavrel
