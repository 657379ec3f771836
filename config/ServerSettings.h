#pragma once
// The record of one server, as the main window holds it, "config.txt" keeps
// it, the history stores it and the login carries it.

#include <string>
#include <string_view>

namespace kavrel {

struct ServerSettings {
    // Host name, dotted IPv4 address, or an RTSP URL (config/StreamUrl.h);
    // empty: not configured.
    std::u16string address;
    std::u16string port;  // decimal text, kept as typed ("80x" stays "80x"); empty for a URL
    std::u16string userName;
    std::u16string password;  // in the clear everywhere; never written to the debug output
    int channel = 0;          // 0-based; -1 when the settings dialog chose none

    bool operator==(const ServerSettings&) const = default;
};

// Section and keys of the current server in "config.txt", in the order they
// are read and written.
inline constexpr std::u16string_view kServerSection = u"server";
inline constexpr std::u16string_view kServerAddressKey = u"server_address";
inline constexpr std::u16string_view kServerPortKey = u"server_port";
inline constexpr std::u16string_view kServerUserNameKey = u"server_username";
inline constexpr std::u16string_view kServerPasswordKey = u"server_password";
inline constexpr std::u16string_view kServerChannelKey = u"server_channel";

}  // namespace kavrel
