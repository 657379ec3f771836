#pragma once
// Network bring-up at start: the handheld asked its connection manager for a
// path to the internet and waited up to 30000 ms. Here Qt's reachability
// information stands in: while it reports Disconnected, wait up to the limit
// for anything better. Unknown counts as up; with no backend (common without
// D-Bus) the network counts as up.
// User-interface thread only (it runs a local event loop while waiting).

#include <chrono>
#include <functional>

namespace kavrel {

inline constexpr std::chrono::milliseconds kNetworkBringUpLimit{30000};

// True when the network is up, or came up within `limit`.
bool WaitForNetwork(std::chrono::milliseconds limit = kNetworkBringUpLimit);

// What the main window calls at start: the installed function, else
// WaitForNetwork() with the full limit.
bool BringUpNetwork();

using NetworkBringUpFunction = std::function<bool()>;

// Replaces the bring-up (tests); returns the previous function. An empty
// function restores WaitForNetwork.
NetworkBringUpFunction SetNetworkBringUp(NetworkBringUpFunction function);

}  // namespace kavrel
