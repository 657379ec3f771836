#include "config/StreamUrl.h"

#include <algorithm>
#include <array>
#include <initializer_list>

#include "platform/TextCodec.h"

namespace kavrel {
namespace {

constexpr std::u16string_view kSchemeEnd = u"://";
constexpr std::u16string_view kMasked = u"***";
constexpr size_t kMaxFilePrefix = 100;

// The URL cut at its delimiters, without any check. The user information
// runs to the last "@" before the first "/" after the scheme, so that a
// password with a bare "?", "#" or "@" in it still counts as one, as typed by
// hand (and for a bare "/", see below); the host and port run from there to
// the first "/", "?" or "#".
struct UrlPieces {
    std::u16string_view scheme;  // "rtsp" or "rtsps", as written
    std::optional<std::u16string_view> userInfo;
    std::u16string_view hostPort;
    std::u16string_view path;                     // from "/" to "?" or "#"
    std::u16string_view query;                    // with its "?"
    std::optional<std::u16string_view> fragment;  // without its "#"
};

UrlPieces Split(std::u16string_view url) {
    UrlPieces pieces;
    const size_t schemeEnd = url.find(kSchemeEnd);
    pieces.scheme = url.substr(0, schemeEnd);
    std::u16string_view rest = url.substr(schemeEnd + kSchemeEnd.size());
    size_t at = rest.substr(0, rest.find(u'/')).rfind(u'@');
    if (at == std::u16string_view::npos) {
        // A bare "/" in a password ends the authority early. A ":" before a
        // later "@" reads as user and password: rather a path with an "@"
        // taken apart wrongly than a password shown.
        const size_t last = rest.rfind(u'@');
        if (last != std::u16string_view::npos && rest.find(u':') < last)
            at = last;
    }
    if (at != std::u16string_view::npos) {
        pieces.userInfo = rest.substr(0, at);
        rest.remove_prefix(at + 1);
    }
    const size_t hostEnd = std::min(rest.find_first_of(u"/?#"), rest.size());
    pieces.hostPort = rest.substr(0, hostEnd);
    rest.remove_prefix(hostEnd);
    const size_t hash = std::min(rest.find(u'#'), rest.size());
    if (hash < rest.size())
        pieces.fragment = rest.substr(hash + 1);
    rest = rest.substr(0, hash);
    const size_t question = std::min(rest.find(u'?'), rest.size());
    pieces.path = rest.substr(0, question);
    pieces.query = rest.substr(question);
    return pieces;
}

// Host and port text apart; the host of "[v6]:port" keeps its brackets.
void SplitHostPort(std::u16string_view hostPort, std::u16string_view& host,
                   std::optional<std::u16string_view>& port) {
    size_t colon = std::u16string_view::npos;
    if (!hostPort.empty() && hostPort.front() == u'[') {
        const size_t close = hostPort.find(u']');
        if (close != std::u16string_view::npos && close + 1 < hostPort.size() &&
            hostPort[close + 1] == u':') {
            colon = close + 1;
        }
    } else {
        colon = hostPort.find(u':');
    }
    host = hostPort.substr(0, colon);
    if (colon != std::u16string_view::npos)
        port = hostPort.substr(colon + 1);
}

bool EqualsIgnoringCase(std::u16string_view text, std::u16string_view lower) {
    if (text.size() != lower.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c - u'A' + u'a');
        if (c != lower[i])
            return false;
    }
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "%XX" escapes are bytes of UTF-8; false on a broken escape.
bool PercentDecode(std::u16string_view text, std::u16string& out) {
    const std::string bytes = ToUtf8(text);
    std::string decoded;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '%') {
            decoded += bytes[i];
            continue;
        }
        if (i + 2 >= bytes.size() || HexValue(bytes[i + 1]) < 0 || HexValue(bytes[i + 2]) < 0)
            return false;
        decoded += char(HexValue(bytes[i + 1]) * 16 + HexValue(bytes[i + 2]));
        i += 2;
    }
    out = FromUtf8(decoded);
    return true;
}

bool ParsePort(std::u16string_view text, int& port) {
    if (text.empty() || text.size() > 5)
        return false;
    int value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + (c - u'0');
    }
    if (value < 1 || value > 65535)
        return false;
    port = value;
    return true;
}

bool ValidHost(std::u16string_view host) {
    if (host.empty())
        return false;
    if (host.front() == u'[') {
        if (host.size() < 3 || host.back() != u']')
            return false;
        for (char16_t c : host.substr(1, host.size() - 2)) {
            const bool hex =
                (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
            if (!hex && c != u':' && c != u'.')
                return false;
        }
        return true;
    }
    return host.find_first_of(u"[]@") == std::u16string_view::npos;
}

// The query with the values of password parameters masked.
std::u16string MaskQuery(std::u16string_view query) {
    static constexpr std::array<std::u16string_view, 5> kSecretNames = {u"password", u"passwd",
                                                                        u"pass", u"pwd", u"token"};
    std::u16string masked;
    size_t start = 0;
    while (start < query.size()) {
        const size_t end = std::min(query.find(u'&', start), query.size());
        std::u16string_view parameter = query.substr(start, end - start);
        const size_t equals = parameter.find(u'=');
        const size_t nameStart = start == 0 && !parameter.empty() && parameter[0] == u'?' ? 1 : 0;
        bool secret = false;
        if (equals != std::u16string_view::npos) {
            const std::u16string_view name = parameter.substr(nameStart, equals - nameStart);
            for (std::u16string_view secretName : kSecretNames)
                secret = secret || EqualsIgnoringCase(name, secretName);
        }
        if (secret) {
            masked += parameter.substr(0, equals + 1);
            masked += kMasked;
        } else {
            masked += parameter;
        }
        if (end < query.size())
            masked += u'&';
        start = end + 1;
    }
    return masked;
}

}  // namespace

int StreamUrl::EffectivePort() const {
    if (port != 0)
        return port;
    if (onvif)
        return secure ? kHttpsDefaultPort : kHttpDefaultPort;
    return secure ? kRtspsDefaultPort : kRtspDefaultPort;
}

std::u16string StreamUrl::RequestUrl() const {
    std::u16string url =
        onvif ? (secure ? u"https://" : u"http://") : (secure ? u"rtsps://" : u"rtsp://");
    const bool v6 = host.find(u':') != std::u16string::npos;
    if (v6)
        url += u'[';
    url += host;
    if (v6)
        url += u']';
    if (port != 0) {
        const std::string digits = std::to_string(port);
        url += u':';
        url += std::u16string(digits.begin(), digits.end());
    }
    url += path;
    return url;
}

namespace {

bool HasScheme(std::u16string_view address, std::initializer_list<std::u16string_view> schemes) {
    for (const std::u16string_view scheme : schemes) {
        if (address.size() >= scheme.size() &&
            EqualsIgnoringCase(address.substr(0, scheme.size()), scheme))
            return true;
    }
    return false;
}

}  // namespace

bool IsOnvifUrl(std::u16string_view address) {
    return HasScheme(address, {u"onvif://", u"http://", u"https://"});
}

bool IsStreamUrl(std::u16string_view address) {
    return HasScheme(address, {u"rtsp://", u"rtsps://"}) || IsOnvifUrl(address);
}

std::optional<StreamUrl> ParseStreamUrl(std::u16string_view url) {
    if (!IsStreamUrl(url))
        return std::nullopt;
    for (char16_t c : url) {
        if (c <= u' ' || c == 0x7f)
            return std::nullopt;
    }
    const UrlPieces pieces = Split(url);
    StreamUrl parsed;
    parsed.onvif = IsOnvifUrl(url);
    parsed.secure =
        EqualsIgnoringCase(pieces.scheme, u"rtsps") || EqualsIgnoringCase(pieces.scheme, u"https");
    if (pieces.userInfo) {
        const size_t colon = pieces.userInfo->find(u':');
        if (!PercentDecode(pieces.userInfo->substr(0, colon), parsed.userName))
            return std::nullopt;
        if (colon != std::u16string_view::npos &&
            !PercentDecode(pieces.userInfo->substr(colon + 1), parsed.password)) {
            return std::nullopt;
        }
    }
    std::u16string_view host;
    std::optional<std::u16string_view> port;
    SplitHostPort(pieces.hostPort, host, port);
    if (!ValidHost(host) || (port && !ParsePort(*port, parsed.port)))
        return std::nullopt;
    parsed.host = host.front() == u'[' ? host.substr(1, host.size() - 2) : host;
    if (pieces.fragment) {
        if (parsed.onvif || !EqualsIgnoringCase(*pieces.fragment, u"udp"))
            return std::nullopt;
        parsed.udp = true;
    }
    const bool noPath = pieces.path.empty() || pieces.path == u"/";
    if (parsed.onvif && noPath)
        parsed.path = kOnvifDevicePath;
    else
        parsed.path = pieces.path.empty() ? u"/" : std::u16string(pieces.path);
    parsed.path += pieces.query;
    return parsed;
}

std::u16string RedactedUrl(std::u16string_view url) {
    if (!IsStreamUrl(url))
        return std::u16string(url);
    const UrlPieces pieces = Split(url);
    std::u16string redacted(pieces.scheme);
    redacted += kSchemeEnd;
    if (pieces.userInfo) {
        const std::u16string_view user = pieces.userInfo->substr(0, pieces.userInfo->find(u':'));
        if (!user.empty()) {
            redacted += user;
            redacted += u'@';
        }
    }
    redacted += pieces.hostPort;
    redacted += pieces.path;
    redacted += MaskQuery(pieces.query);
    if (pieces.fragment) {
        redacted += u'#';
        redacted += *pieces.fragment;
    }
    return redacted;
}

std::u16string StreamDisplayName(std::u16string_view url) {
    if (!IsStreamUrl(url))
        return std::u16string(url);
    const UrlPieces pieces = Split(url);
    std::u16string_view host;
    std::optional<std::u16string_view> port;
    SplitHostPort(pieces.hostPort, host, port);
    std::u16string name(host);
    if (pieces.path.size() > 1 && !(IsOnvifUrl(url) && pieces.path == kOnvifDevicePath))
        name += pieces.path;
    return name;
}

std::string StreamFileNamePrefix(std::u16string_view url) {
    std::string prefix;
    for (char16_t c : StreamDisplayName(url)) {
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                           (c >= u'0' && c <= u'9') || c == u'.' || c == u'-';
        if (plain)
            prefix += char(c);
        else if (prefix.empty() || prefix.back() != '_')
            prefix += '_';
    }
    if (prefix.size() > kMaxFilePrefix)
        prefix.resize(kMaxFilePrefix);
    while (!prefix.empty() && prefix.back() == '_')
        prefix.pop_back();
    if (prefix.empty())
        return "rtsp";
    // Never a hidden file.
    if (prefix.front() == '.')
        prefix.insert(prefix.begin(), '_');
    return prefix;
}

}  // namespace kavrel
