#include "settings/ViewPreferences.h"

#include <QString>
#include <QStringList>

#include "settings/HistoryStore.h"

namespace kavrel {
namespace {

constexpr std::u16string_view kGeometryName = u"window_geometry";
constexpr std::u16string_view kMaximisedName = u"window_maximised";
constexpr std::u16string_view kKeepAspectName = u"keep_aspect";
constexpr std::u16string_view kClipMinutesName = u"clip_minutes";

// "x y width height": spaces, because the store would read commas as a list.
QRect ParseGeometry(const std::u16string& text) {
    const QStringList parts =
        QString::fromStdU16String(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 4)
        return {};
    int values[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts[i].toInt(&ok);
        if (!ok)
            return {};
    }
    if (values[2] <= 0 || values[3] <= 0)
        return {};
    return QRect(values[0], values[1], values[2], values[3]);
}

// "1" and "0" are a stored choice; anything else (absent, hand-edited) is
// no choice and gives `fallback`.
bool ReadFlag(std::u16string_view name, bool fallback) {
    std::u16string text;
    if (!ReadRegistryString(name, text))
        return fallback;
    if (text == u"1")
        return true;
    if (text == u"0")
        return false;
    return fallback;
}

}  // namespace

ViewPreferences LoadViewPreferences() {
    ViewPreferences preferences;
    std::u16string geometry;
    if (ReadRegistryString(kGeometryName, geometry))
        preferences.windowGeometry = ParseGeometry(geometry);
    preferences.maximised = ReadFlag(kMaximisedName, preferences.maximised);
    preferences.keepAspect = ReadFlag(kKeepAspectName, preferences.keepAspect);
    std::u16string minutes;
    if (ReadRegistryString(kClipMinutesName, minutes)) {
        bool ok = false;
        const int value = QString::fromStdU16String(minutes).trimmed().toInt(&ok);
        if (ok && value >= 1 && value <= 1440)
            preferences.clipMinutes = value;
    }
    return preferences;
}

bool SaveViewPreferences(const ViewPreferences& preferences) {
    const QRect& r = preferences.windowGeometry;
    const QString geometry =
        r.isValid()
            ? QStringLiteral("%1 %2 %3 %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height())
            : QString();
    return WriteRegistryStrings({
        {kGeometryName, geometry.toStdU16String()},
        {kMaximisedName, preferences.maximised ? u"1" : u"0"},
        {kKeepAspectName, preferences.keepAspect ? u"1" : u"0"},
    });
}

}  // namespace kavrel
