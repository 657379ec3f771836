#include "app/NetworkBringUp.h"

#include <QEventLoop>
#include <QNetworkInformation>
#include <QTimer>

namespace kavrel {
namespace {

// Owned by the user-interface thread.
NetworkBringUpFunction& InstalledBringUp() {
    static NetworkBringUpFunction function;
    return function;
}

}  // namespace

bool WaitForNetwork(std::chrono::milliseconds limit) {
    if (!QNetworkInformation::instance() &&
        !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        return true;  // no backend: nothing says the network is down
    }
    QNetworkInformation* information = QNetworkInformation::instance();
    if (!information)
        return true;
    const auto isUp = [](QNetworkInformation::Reachability reachability) {
        return reachability != QNetworkInformation::Reachability::Disconnected;
    };
    if (isUp(information->reachability()))
        return true;

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(information, &QNetworkInformation::reachabilityChanged, &loop,
                     [&](QNetworkInformation::Reachability reachability) {
                         if (isUp(reachability))
                             loop.quit();
                     });
    deadline.start(limit);
    loop.exec();
    return isUp(information->reachability());
}

bool BringUpNetwork() {
    const NetworkBringUpFunction function = InstalledBringUp();
    return function ? function() : WaitForNetwork();
}

NetworkBringUpFunction SetNetworkBringUp(NetworkBringUpFunction function) {
    NetworkBringUpFunction previous = std::move(InstalledBringUp());
    InstalledBringUp() = std::move(function);
    return previous;
}

}  // namespace kavrel
