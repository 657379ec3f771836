#include "settings/WindowPlaces.h"

#include <QString>
#include <QStringList>
#include <algorithm>

#include "settings/HistoryStore.h"

namespace kavrel {
namespace {

constexpr std::u16string_view kMonitorName = u"window_monitor";
constexpr std::u16string_view kFullScreenName = u"window_fullscreen";
constexpr std::u16string_view kOtherWindowsName = u"windows";

}  // namespace

std::u16string WindowValueName(std::u16string_view name, int window) {
    std::u16string out(name);
    if (window != 1)
        out += QString::number(window).toStdU16String();
    return out;
}

std::optional<WindowPlace> LoadWindowPlace(int window) {
    WindowPlace place;
    std::u16string fullScreen;
    if (!ReadRegistryString(WindowValueName(kMonitorName, window), place.monitor) ||
        place.monitor.empty() ||
        !ReadRegistryString(WindowValueName(kFullScreenName, window), fullScreen) ||
        (fullScreen != u"0" && fullScreen != u"1")) {
        return std::nullopt;
    }
    place.fullScreen = fullScreen == u"1";
    return place;
}

bool SaveWindowPlace(int window, const WindowPlace& place) {
    return WriteRegistryStrings({
        {WindowValueName(kMonitorName, window), place.monitor},
        {WindowValueName(kFullScreenName, window), place.fullScreen ? u"1" : u"0"},
    });
}

std::vector<int> LoadOtherWindows() {
    std::vector<int> windows;
    std::u16string text;
    if (!ReadRegistryString(kOtherWindowsName, text))
        return windows;
    for (const QString& part :
         QString::fromStdU16String(text).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int window = part.toInt(&ok);
        if (ok && window >= 2 && window <= kMaxMainWindows)
            windows.push_back(window);
    }
    std::sort(windows.begin(), windows.end());
    windows.erase(std::unique(windows.begin(), windows.end()), windows.end());
    return windows;
}

bool SaveOtherWindows(const std::vector<int>& windows) {
    QStringList parts;
    for (int window : windows)
        parts << QString::number(window);
    return WriteRegistryStrings(
        {{kOtherWindowsName, parts.join(QLatin1Char(' ')).toStdU16String()}});
}

}  // namespace kavrel
