#pragma once
// An RTSP camera is named by its URL where a server of the camera protocol is
// named by host and port: the address field holds either.

#include <string_view>

namespace kavrel {

// True for an address that is an rtsp:// or rtsps:// URL (the scheme in any
// case), which an RTSP stream plays rather than the camera protocol.
inline bool IsStreamUrl(std::u16string_view address) {
    auto starts = [address](std::u16string_view scheme) {
        if (address.size() < scheme.size())
            return false;
        for (size_t i = 0; i < scheme.size(); ++i) {
            char16_t c = address[i];
            if (c >= u'A' && c <= u'Z')
                c = char16_t(c - u'A' + u'a');
            if (c != scheme[i])
                return false;
        }
        return true;
    };
    return starts(u"rtsp://") || starts(u"rtsps://");
}

// Enough to connect: a host and its port, or a URL (which carries its own
// port, or its scheme's).
inline bool CanConnect(std::u16string_view address, std::u16string_view port) {
    return !address.empty() && (!port.empty() || IsStreamUrl(address));
}

}  // namespace kavrel
