#pragma once
// The URL of an RTSP camera as the user wrote it, turned into what
// libavformat opens and what a debug line may show.
//
// The forms are those config/StreamUrl.h reads (ParseStreamUrl): rtsp:// or
// rtsps://, credentials in the URL (which win over the entry's user name),
// "#udp" for RTP over UDP (stripped, never sent; interleaved over the RTSP
// connection otherwise).
// When the URL holds no credentials and the entry's user name is not empty,
// the entry's user and password go into the URL, percent-encoded
// (libavformat decodes them once; a ':' in a user name cannot be expressed).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kavrel {

struct RtspAddress {
    std::string url;        // for libavformat: credentials in, "#udp" out
    std::string shownUrl;   // for debug lines: no credentials, no query
    bool udp = false;       // RTP over UDP instead of interleaved
    std::string host;       // the host name or address, without brackets
    size_t hostAt = 0;      // where `host` stands in `url` (brackets included)
    size_t hostLength = 0;  // ... and how long it is there
};

// nullopt for a URL that ParseStreamUrl refuses, or whose credentials are
// longer than libavformat keeps (127 bytes encoded). `shownUrl` is the
// request URL through RedactedUrl.
std::optional<RtspAddress> ParseRtspAddress(std::string_view url, std::string_view userName,
                                            std::string_view password);

// `address.url` with its host replaced by a numeric address (an IPv6 one in
// brackets).
std::string WithHost(const RtspAddress& address, std::string_view numericHost);

}  // namespace kavrel
