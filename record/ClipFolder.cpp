#include "record/ClipFolder.h"

#include <QDir>
#include <QStandardPaths>

#include "config/StreamUrl.h"

namespace kavrel::record {

std::filesystem::path DefaultClipFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (folder.isEmpty())
        folder = QDir::homePath() + QStringLiteral("/Videos");
    return std::filesystem::path(folder.toStdString());
}

std::string ClipNamePrefix(std::u16string_view address, int channel) {
    if (IsStreamUrl(address))
        return StreamFileNamePrefix(address);
    std::string prefix;
    for (char16_t c : address) {
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                           (c >= u'0' && c <= u'9') || c == u'.' || c == u'-';
        prefix += plain ? char(c) : '_';
    }
    if (prefix.empty() || prefix.front() == '.')
        prefix.insert(prefix.begin(), '_');
    return prefix + "_ch" + std::to_string(channel + 1);
}

}  // namespace kavrel::record
