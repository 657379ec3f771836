#include "settings/HistoryStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <memory>
#include <mutex>

#include "config/ConfigLocation.h"
#include "platform/DebugSink.h"
#include "platform/TextCodec.h"

namespace kavrel {
namespace {

constexpr mode_t kStoreFileMode = 0600;

std::mutex g_pathMutex;
std::u16string g_storeFileOverride;  // guarded by g_pathMutex; empty: the user-scope default

std::unique_ptr<QSettings> OpenStore() {
    std::u16string path;
    {
        std::lock_guard lock(g_pathMutex);
        path = g_storeFileOverride;
    }
    if (!path.empty()) {
        return std::make_unique<QSettings>(QString::fromStdU16String(path), QSettings::IniFormat);
    }
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("orvane"), QStringLiteral("settings"));
}

// Makes sure the store file exists with owner-only access before QSettings
// writes it: QSettings replaces the file through a temporary that takes over
// the existing file's permissions, so the passwords are never readable by
// others, not even for a moment.
void EnsurePrivateStoreFile(const QString& fileName) {
    // The folder is shared with config.txt, which holds a password too.
    MakePrivateDirectories(QFile::encodeName(QFileInfo(fileName).absolutePath()).toStdString());
    const QByteArray path = QFile::encodeName(fileName);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, kStoreFileMode);
    if (fd < 0)
        return;  // the read or write that follows reports the failure
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        (info.st_mode & 07777) != kStoreFileMode) {
        ::fchmod(fd, kStoreFileMode);
    }
    ::close(fd);
}

QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

std::u16string HistoryValueName(size_t slot) {
    const std::string digits = std::to_string(slot);
    return u"history" + std::u16string(digits.begin(), digits.end());
}

}  // namespace

std::u16string SettingsStoreFile() {
    return OpenStore()->fileName().toStdU16String();
}

void SetSettingsStoreFile(std::u16string path) {
    std::lock_guard lock(g_pathMutex);
    g_storeFileOverride = std::move(path);
}

namespace {

bool ReadValue(const QSettings& store, std::u16string_view name, std::u16string& out) {
    out.clear();
    if (store.status() == QSettings::AccessError)
        return false;
    const QVariant value = store.value(ToQString(name));
    if (!value.isValid())
        return false;
    // A hand-edited value with bare commas parses as a list; take it as the text it was.
    out = value.typeId() == QMetaType::QStringList
              ? value.toStringList().join(QLatin1Char(',')).toStdU16String()
              : value.toString().toStdU16String();
    return true;
}

}  // namespace

bool ReadRegistryString(std::u16string_view name, std::u16string& out) {
    std::unique_ptr<QSettings> store = OpenStore();
    EnsurePrivateStoreFile(store->fileName());
    return ReadValue(*store, name, out);
}

bool WriteRegistryString(std::u16string_view name, std::u16string_view text) {
    return WriteRegistryStrings({{name, std::u16string(text)}});
}

bool WriteRegistryStrings(const std::vector<RegistryValue>& values) {
    std::unique_ptr<QSettings> store = OpenStore();
    EnsurePrivateStoreFile(store->fileName());
    for (const RegistryValue& value : values)
        store->setValue(ToQString(value.name), ToQString(value.text));
    store->sync();
    return store->status() == QSettings::NoError;
}

std::vector<std::u16string> LoadHistory(ServerHistory& history) {
    // One opening for all slots: each opening parses the whole file.
    std::unique_ptr<QSettings> store = OpenStore();
    EnsurePrivateStoreFile(store->fileName());
    for (size_t slot = 0; slot < kStoredHistorySize; ++slot) {
        std::u16string entry;
        ReadValue(*store, HistoryValueName(slot), entry);
        // An entry without any terminator could not be shown; keeping it
        // would shift every later element against its drop-down item.
        if (entry.empty() || entry.find(kHistoryTerminator) == std::u16string::npos)
            continue;
        history.push_back(std::move(entry));
    }
    std::vector<std::u16string> displayTexts;
    displayTexts.reserve(history.size());
    for (const std::u16string& entry : history)
        displayTexts.push_back(HistoryDisplayText(entry));
    return displayTexts;
}

bool SaveHistory(const ServerHistory& history) {
    // One batch, one sync: a sync rewrites the whole file, and a hundred of
    // them froze the window that closes the settings dialog.
    std::unique_ptr<QSettings> store = OpenStore();
    EnsurePrivateStoreFile(store->fileName());
    for (size_t slot = 0; slot < kStoredHistorySize; ++slot) {
        if (slot < history.size()) {
            store->setValue(ToQString(HistoryValueName(slot)), ToQString(history[slot]));
            DebugOutput(ToUtf8(MaskHistoryPassword(history[slot])) + "\r\n");
        } else {
            store->setValue(ToQString(HistoryValueName(slot)), QString());
        }
    }
    store->sync();
    return store->status() == QSettings::NoError;
}

void AddRecentValue(std::u16string_view name, std::u16string_view value) {
    std::u16string list;
    ReadRegistryString(name, list);
    if (!value.empty() && list.find(value) == std::u16string::npos) {
        list += value;
        list += kRecentTerminator;
    }
    WriteRegistryString(name, list);
}

}  // namespace kavrel
