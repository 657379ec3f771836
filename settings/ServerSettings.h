#pragma once
// The record of one server, as the main window holds it, "config.txt" keeps
// it, the history stores it and the login carries it.

#include <string>

namespace kavrel {

struct ServerSettings {
    std::u16string address;  // host name or dotted IPv4 address; empty: not configured
    std::u16string port;     // decimal text, kept as typed ("80x" stays "80x")
    std::u16string userName;
    std::u16string password;  // in the clear everywhere; never written to the debug output
    int channel = 0;          // 0-based; -1 when the settings dialog chose none

    bool operator==(const ServerSettings&) const = default;
};

}  // namespace kavrel
