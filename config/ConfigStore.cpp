#include "config/ConfigStore.h"

#include <QCoreApplication>
#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>

#include "config/BuiltinConfig.h"
#include "config/ConfigLocation.h"
#include "config/ProfileFile.h"
#include "config/ServerSettings.h"
#include "config/StreamUrl.h"
#include "platform/TextCodec.h"

namespace kavrel {
namespace {

std::mutex g_pathMutex;
std::u16string g_pathOverride;       // guarded by g_pathMutex; empty: chosen by ConfigFileFor
std::u16string g_directoryOverride;  // guarded by g_pathMutex; empty: the real folder

// The texts of the file last loaded or saved: every entry of a "lan" section,
// the first of equal (section, key) entries, keyed by section + "\n" + key
// (neither holds a line break). Guarded by g_textMutex; the user-interface
// thread is the one that loads and looks up.
std::mutex g_textMutex;
bool g_textsLoaded = false;                                     // guarded by g_textMutex
std::map<std::u16string, std::u16string, std::less<>> g_texts;  // guarded by g_textMutex

std::u16string TextKey(std::u16string_view section, std::u16string_view key) {
    std::u16string joined;
    joined.reserve(section.size() + 1 + key.size());
    joined.append(section).append(1, u'\n').append(key);
    return joined;
}

void KeepTexts(const ProfileFile& file) {
    std::map<std::u16string, std::u16string, std::less<>> texts;
    for (const ProfileEntry& entry : file.Entries()) {
        if (entry.section.rfind("lan", 0) == 0 && entry.key != ProfileFile::kPlainKey)
            texts.emplace(TextKey(FromUtf8(entry.section), FromUtf8(entry.key)),
                          FromUtf8(entry.value));  // emplace keeps the first
    }
    std::lock_guard lock(g_textMutex);
    g_texts = std::move(texts);
    g_textsLoaded = true;
}

void ForgetTexts() {
    std::lock_guard lock(g_textMutex);
    g_texts.clear();
    g_textsLoaded = false;
}

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

// config.txt keeps the current server's password in the clear, in its own
// key or inside an RTSP URL (anything RedactedUrl would hide counts).
bool HoldsPassword(const ProfileFile& file) {
    const std::string section = ToUtf8(kServerSection);
    const std::string key = ToUtf8(kServerPasswordKey);
    const std::string addressKey = ToUtf8(kServerAddressKey);
    return std::any_of(file.Entries().begin(), file.Entries().end(), [&](const ProfileEntry& e) {
        if (e.section != section)
            return false;
        if (e.key == addressKey) {
            const std::u16string address = FromUtf8(e.value);
            return RedactedUrl(address) != address;
        }
        return e.key == key && !e.value.empty();
    });
}

bool PathIsSet() {
    std::lock_guard lock(g_pathMutex);
    return !g_pathOverride.empty();
}

// What a new config.txt starts from: the installed default, else the copy
// built into the program.
ProfileFile DeliveredConfig() {
    ProfileFile delivered({});
    const std::u16string installed = FindInstalledConfigFile(ProgramDirectory());
    if (!installed.empty()) {
        ProfileFile file(ToUtf8(installed));
        if (file.Load() == ProfileLoadResult::Loaded && !file.Entries().empty())
            return file;
    }
    delivered.Parse(BuiltinConfigText());
    return delivered;
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
    {
        std::lock_guard lock(g_pathMutex);
        g_pathOverride = std::move(path);
    }
    ForgetTexts();
}

void SetProgramDirectory(std::u16string directory) {
    {
        std::lock_guard lock(g_pathMutex);
        g_directoryOverride = std::move(directory);
    }
    ForgetTexts();
}

void PrepareConfigFile() {
    if (!PathIsSet())
        MakeUserConfigFile(ProgramDirectory());  // on failure the first save starts afresh
    LoadConfigTexts();
}

void LoadConfigTexts() {
    ProfileFile file(ToUtf8(ConfigFilePath()));
    file.Load();  // a missing or unreadable file leaves no entries: built-in texts stand in
    KeepTexts(file);
}

std::optional<std::u16string> FindLoadedText(std::u16string_view section, std::u16string_view key) {
    bool loaded = false;
    {
        std::lock_guard lock(g_textMutex);
        loaded = g_textsLoaded;
    }
    if (!loaded)
        LoadConfigTexts();  // a tool or test that never called PrepareConfigFile
    std::lock_guard lock(g_textMutex);
    const auto found = g_texts.find(TextKey(section, key));
    if (found == g_texts.end())
        return std::nullopt;
    return found->second;
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

bool WriteConfigValue(std::u16string_view section, std::u16string_view key,
                      std::u16string_view value) {
    return WriteConfigValues(section, {{key, std::u16string(value)}});
}

bool WriteConfigValues(std::u16string_view section, const std::vector<ConfigValue>& values) {
    const std::string path = ToUtf8(ConfigFilePath());
    ProfileFile file(path);
    const ProfileLoadResult loaded = file.Load();
    if (loaded == ProfileLoadResult::Failed)
        return false;  // never replace what could not be read
    const std::string section8 = ToUtf8(section);
    std::vector<std::pair<std::string, std::string>> values8;
    values8.reserve(values.size());
    for (const ConfigValue& value : values) {
        values8.emplace_back(ToUtf8(value.key), ToUtf8(value.value));
        if (!ProfileFile::CanStore(section8, values8.back().first, values8.back().second))
            return false;  // all or nothing: the file is left as it was
    }
    if (loaded == ProfileLoadResult::Missing) {
        // A new file starts as the delivered config.txt: one holding only the
        // server would leave a user who edits the texts none to edit.
        file.ReplaceEntries(DeliveredConfig().Entries());
        MakePrivateDirectories(std::filesystem::path(path).parent_path().string());
    }
    for (const auto& [key, value] : values8)
        file.SetEntry(section8, key, value);
    if (!file.Save(HoldsPassword(file) ? ProfileAccess::OwnerOnly : ProfileAccess::KeepMode))
        return false;
    KeepTexts(file);

    // Read back: what the next start will find is what was meant.
    ProfileFile check(path);
    if (check.Load() != ProfileLoadResult::Loaded)
        return false;
    for (const auto& [key, value] : values8) {
        const std::string* stored = nullptr;
        for (const ProfileEntry& entry : check.Entries()) {
            if (entry.section == section8 && entry.key == key)
                stored = &entry.value;  // the last one: where SetEntry wrote
        }
        if (stored == nullptr || *stored != value)
            return false;
    }
    return true;
}

}  // namespace kavrel
