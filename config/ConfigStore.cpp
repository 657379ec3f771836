#include "config/ConfigStore.h"

#include <QCoreApplication>
#include <filesystem>
#include <mutex>

#include "config/ProfileFile.h"
#include "platform/TextCodec.h"

namespace kavrel {
namespace {

constexpr std::u16string_view kConfigFileName = u"config.txt";

std::mutex g_pathMutex;
std::u16string g_pathOverride;  // guarded by g_pathMutex; empty: beside the executable

std::u16string ExecutableDirectory() {
    if (QCoreApplication::instance() != nullptr) {
        return QCoreApplication::applicationDirPath().toStdU16String();
    }
    // Before the application object exists (tools, tests) the same folder
    // comes from the kernel's link to the running binary.
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    return FromUtf8(exe.parent_path().string());
}

}  // namespace

std::u16string ConfigFilePath() {
    {
        std::lock_guard lock(g_pathMutex);
        if (!g_pathOverride.empty())
            return g_pathOverride;
    }
    std::u16string path = ExecutableDirectory();
    if (path.empty() || path.back() != u'/')
        path += u'/';
    path += kConfigFileName;
    return path;
}

void SetConfigFilePath(std::u16string path) {
    std::lock_guard lock(g_pathMutex);
    g_pathOverride = std::move(path);
}

std::u16string ReadConfigValue(std::u16string_view section, std::u16string_view key) {
    return FindConfigValue(section, key).value_or(std::u16string());
}

std::optional<std::u16string> FindConfigValue(std::u16string_view section,
                                              std::u16string_view key) {
    ProfileFile file(ToUtf8(ConfigFilePath()));
    file.Load();  // a missing or unreadable file leaves no entries
    const std::string* value = file.Find(ToUtf8(section), ToUtf8(key));
    if (value == nullptr)
        return std::nullopt;
    return FromUtf8(*value);
}

void WriteConfigValue(std::u16string_view section, std::u16string_view key,
                      std::u16string_view value) {
    ProfileFile file(ToUtf8(ConfigFilePath()));
    if (file.Load() == ProfileLoadResult::Failed)
        return;  // never replace what could not be read
    file.Set(ToUtf8(section), ToUtf8(key), ToUtf8(value));
}

}  // namespace kavrel
