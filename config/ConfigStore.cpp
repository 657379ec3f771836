#include "config/ConfigStore.h"

#include <QCoreApplication>
#include <algorithm>
#include <filesystem>
#include <mutex>

#include "config/ConfigLocation.h"
#include "config/ProfileFile.h"
#include "config/ServerSettings.h"
#include "platform/TextCodec.h"

namespace kavrel {
namespace {

std::mutex g_pathMutex;
std::u16string g_pathOverride;       // guarded by g_pathMutex; empty: chosen by ConfigFileFor
std::u16string g_directoryOverride;  // guarded by g_pathMutex; empty: the real folder

std::u16string ProgramDirectory() {
    {
        std::lock_guard lock(g_pathMutex);
        if (!g_directoryOverride.empty())
            return g_directoryOverride;
    }
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

// config.txt keeps the current server's password in the clear.
bool HoldsPassword(const ProfileFile& file) {
    const std::string section = ToUtf8(kServerSection);
    const std::string key = ToUtf8(kServerPasswordKey);
    return std::any_of(file.Entries().begin(), file.Entries().end(), [&](const ProfileEntry& e) {
        return e.section == section && e.key == key && !e.value.empty();
    });
}

bool PathIsSet() {
    std::lock_guard lock(g_pathMutex);
    return !g_pathOverride.empty();
}

}  // namespace

std::u16string ConfigFilePath() {
    {
        std::lock_guard lock(g_pathMutex);
        if (!g_pathOverride.empty())
            return g_pathOverride;
    }
    return ConfigFileFor(ProgramDirectory());
}

void SetConfigFilePath(std::u16string path) {
    std::lock_guard lock(g_pathMutex);
    g_pathOverride = std::move(path);
}

void SetProgramDirectory(std::u16string directory) {
    std::lock_guard lock(g_pathMutex);
    g_directoryOverride = std::move(directory);
}

void PrepareConfigFile() {
    if (!PathIsSet())
        MakeUserConfigFile(ProgramDirectory());  // on failure the first save tries again
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
    const std::string path = ToUtf8(ConfigFilePath());
    ProfileFile file(path);
    const ProfileLoadResult loaded = file.Load();
    if (loaded == ProfileLoadResult::Failed)
        return;  // never replace what could not be read
    const std::string section8 = ToUtf8(section);
    const std::string key8 = ToUtf8(key);
    const std::string value8 = ToUtf8(value);
    if (!ProfileFile::CanStore(section8, key8, value8))
        return;
    file.SetEntry(section8, key8, value8);
    if (loaded == ProfileLoadResult::Missing)
        MakePrivateDirectories(std::filesystem::path(path).parent_path().string());
    file.Save(HoldsPassword(file) ? ProfileAccess::OwnerOnly : ProfileAccess::KeepMode);
}

}  // namespace kavrel
