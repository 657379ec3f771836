#include "config/ConfigLocation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "config/ProfileFile.h"
#include "platform/TextCodec.h"

namespace kavrel {
namespace {

constexpr std::string_view kFileName = "config.txt";
// The user's folder is the organisation's, where settings.ini lives too.
constexpr std::string_view kUserFolder = "orvane";
// <prefix>/share/kavrel: the installed program's read-only data.
constexpr std::string_view kDataFolder = "kavrel";

std::string Join(std::string folder, std::string_view name) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    folder += name;
    return folder;
}

bool IsRegularFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool Exists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

std::string FolderOf(const std::string& path) {
    return std::filesystem::path(path).parent_path().string();
}

// Closes a descriptor on every way out of a scope.
class Descriptor {
  public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return m_fd; }
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

  private:
    int m_fd;
};

bool ReadWhole(const std::string& path, std::string& content) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0)
        return false;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || content.size() + static_cast<size_t>(got) > ProfileFile::kMaxFileBytes)
            return false;
        if (got == 0)
            return true;
        content.append(buffer, static_cast<size_t>(got));
    }
}

bool WriteWhole(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        data.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// Puts `content` at `target` (mode 0600) unless something is there already.
// The file appears whole or not at all: it is written under another name and
// then linked into place, and a link never replaces an existing file, so a
// copy a second start made in the meantime stays as it is.
bool PlaceNewPrivateFile(const std::string& target, std::string_view content) {
    const std::string temp =
        Join(FolderOf(target), ".config.txt.new-" + std::to_string(::getpid()));
    ::unlink(temp.c_str());  // left over by a start of ours that died half-way
    Descriptor file(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (file.Get() < 0)
        return false;
    bool ok = ::fchmod(file.Get(), 0600) == 0 && WriteWhole(file.Get(), content) &&
              ::fsync(file.Get()) == 0;
    ok = file.Close() && ok;
    ok = ok && (::link(temp.c_str(), target.c_str()) == 0 || errno == EEXIST);
    ::unlink(temp.c_str());
    return ok;
}

}  // namespace

bool IsBuildTree(std::u16string_view executableDirectory) {
    return !executableDirectory.empty() &&
           IsRegularFile(Join(ToUtf8(executableDirectory), kBuildTreeMarker));
}

std::u16string ConfigFileFor(std::u16string_view executableDirectory) {
    if (IsBuildTree(executableDirectory))
        return FromUtf8(Join(ToUtf8(executableDirectory), kFileName));
    return UserConfigFile();
}

std::u16string UserConfigFile() {
    // The same folder Qt keeps settings.ini in (XDG_CONFIG_HOME or ~/.config).
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return FromUtf8(Join(Join(base.toStdString(), kUserFolder), kFileName));
}

std::u16string FindInstalledConfigFile(std::u16string_view executableDirectory) {
    std::vector<std::string> candidates;
    if (!executableDirectory.empty()) {
        const std::filesystem::path besideBinaries =
            std::filesystem::path(ToUtf8(executableDirectory)) / ".." / "share";
        candidates.push_back(besideBinaries.lexically_normal().string());
    }
    // XDG_DATA_HOME first, then XDG_DATA_DIRS (each absolute folder in order).
    for (const QString& folder :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        candidates.push_back(folder.toStdString());
    }
    for (const std::string& folder : candidates) {
        const std::string path = Join(Join(folder, kDataFolder), kFileName);
        if (IsRegularFile(path))
            return FromUtf8(path);
    }
    return {};
}

bool MakeUserConfigFile(std::u16string_view executableDirectory) {
    const std::string target = ToUtf8(UserConfigFile());
    if (IsBuildTree(executableDirectory) || Exists(target))
        return true;  // a build tree, or not the first start
    const std::string source = ToUtf8(FindInstalledConfigFile(executableDirectory));
    if (source.empty())
        return true;  // the built-in texts stand in
    std::string content;
    if (!ReadWhole(source, content))
        return false;
    return MakePrivateDirectories(FolderOf(target)) && PlaceNewPrivateFile(target, content);
}

bool MakePrivateDirectories(const std::string& directory) {
    if (directory.empty())
        return false;
    std::filesystem::path built;
    for (const std::filesystem::path& part : std::filesystem::path(directory)) {
        built /= part;
        const std::string folder = built.string();
        if (::mkdir(folder.c_str(), 0700) == 0) {
            ::chmod(folder.c_str(), 0700);  // whatever the umask took away
        } else if (errno != EEXIST) {
            return false;
        }
    }
    struct stat info;
    return ::stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace kavrel
