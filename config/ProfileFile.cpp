#include "config/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <utility>

namespace kavrel {
namespace {

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view TrimLeadingWhiteSpace(std::string_view text) {
    size_t start = 0;
    while (start < text.size() && IsWhiteSpace(text[start]))
        ++start;
    return text.substr(start);
}

// Only blanks (0x20) end a key; a tab before "=" stays part of it.
std::string_view TrimTrailingBlanks(std::string_view text) {
    size_t end = text.size();
    while (end > 0 && text[end - 1] == ' ')
        --end;
    return text.substr(0, end);
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// Closes a descriptor on every way out of a scope.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    // Closes now and reports whether the close succeeded (a late write error
    // can surface here).
    bool Close() {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int m_fd;
};

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// Follows a symbolic link so that a save replaces the file it points to
// instead of the link itself.
std::string ResolveTarget(const std::string& path) {
    struct stat linkInfo;
    if (::lstat(path.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr)
            return resolved;
    }
    return path;
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// Creates a new, empty temporary file beside `target` (`mode` less the
// umask). Returns its descriptor and fills `tempPath`, or -1.
int CreateTemporaryBeside(const std::string& target, mode_t mode, std::string& tempPath) {
    static std::atomic<unsigned> counter{0};
    const std::string directory = DirectoryOf(target);
    const size_t slash = target.rfind('/');
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    for (int attempt = 0; attempt < 64; ++attempt) {
        tempPath = directory + "/." + base + ".tmp-" + std::to_string(::getpid()) + "-" +
                   std::to_string(counter.fetch_add(1));
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

void SyncDirectory(const std::string& directory) {
    FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0)
        ::fsync(dir.Get());  // best effort: the rename is done either way
}

}  // namespace

ProfileFile::ProfileFile(std::string path) : m_path(std::move(path)) {}

ProfileLoadResult ProfileFile::Load() {
    m_entries.clear();
    FileDescriptor file(::open(m_path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        return errno == ENOENT ? ProfileLoadResult::Missing : ProfileLoadResult::Failed;
    }
    struct stat info;
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<unsigned long long>(info.st_size) > kMaxFileBytes) {
        return ProfileLoadResult::Failed;
    }
    std::string content;
    content.reserve(static_cast<size_t>(info.st_size));
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return ProfileLoadResult::Failed;
        }
        if (got == 0)
            break;
        if (content.size() + static_cast<size_t>(got) > kMaxFileBytes) {
            return ProfileLoadResult::Failed;  // grew while being read
        }
        content.append(buffer, static_cast<size_t>(got));
    }
    file.Close();
    Parse(content);
    return ProfileLoadResult::Loaded;
}

void ProfileFile::Parse(std::string_view content) {
    m_entries.clear();
    std::string currentSection;
    size_t pos = 0;
    while (pos < content.size()) {
        const size_t newline = content.find('\n', pos);
        const size_t end = newline == std::string_view::npos ? content.size() : newline + 1;
        std::string_view line = content.substr(pos, end - pos);
        pos = end;
        // At most two line-end characters go: "\r\n" and "\n" read alike.
        for (int i = 0; i < 2 && !line.empty() && (line.back() == '\n' || line.back() == '\r');
             ++i) {
            line.remove_suffix(1);
        }
        ParseLine(line, currentSection);
    }
}

void ProfileFile::ParseLine(std::string_view line, std::string& currentSection) {
    if (!line.empty() && line.front() == '[') {
        std::string_view name = line.substr(1);
        if (!name.empty() && name.back() == ']')
            name.remove_suffix(1);
        currentSection.assign(name);
        return;
    }
    const size_t equals = line.find('=');
    if (equals != std::string_view::npos && !currentSection.empty()) {
        m_entries.push_back({currentSection,
                             std::string(TrimTrailingBlanks(line.substr(0, equals))),
                             std::string(TrimLeadingWhiteSpace(line.substr(equals + 1)))});
        return;
    }
    // A plain line, or a key line with no section to belong to: kept as text.
    const std::string_view section =
        currentSection.empty() ? kLeadingSection : std::string_view(currentSection);
    m_entries.push_back(
        {std::string(section), std::string(kPlainKey), std::string(TrimLeadingWhiteSpace(line))});
}

std::string ProfileFile::Get(std::string_view section, std::string_view key) const {
    const std::string* value = Find(section, key);
    return value ? *value : std::string();
}

const std::string* ProfileFile::Find(std::string_view section, std::string_view key) const {
    for (const ProfileEntry& entry : m_entries) {
        if (entry.section == section && entry.key == key)
            return &entry.value;
    }
    return nullptr;
}

void ProfileFile::SetEntry(std::string_view section, std::string_view key, std::string_view value) {
    std::optional<size_t> lastOfSection;
    for (size_t i = m_entries.size(); i-- > 0;) {
        ProfileEntry& entry = m_entries[i];
        if (entry.section != section)
            continue;
        if (!lastOfSection)
            lastOfSection = i;
        if (entry.key == key) {
            entry.value.assign(value);
            return;
        }
    }
    ProfileEntry added{std::string(section), std::string(key), std::string(value)};
    if (lastOfSection) {
        m_entries.insert(m_entries.begin() + static_cast<std::ptrdiff_t>(*lastOfSection + 1),
                         std::move(added));
    } else {
        m_entries.push_back(std::move(added));
    }
}

bool ProfileFile::CanStore(std::string_view section, std::string_view key, std::string_view value) {
    // A line break inside a name or value would split the line on the next
    // load (and could smuggle in headers or keys), and "=" inside a key would
    // move the split point.
    return !HasLineBreak(section) && !HasLineBreak(key) && !HasLineBreak(value) &&
           key.find('=') == std::string_view::npos;
}

bool ProfileFile::Set(std::string_view section, std::string_view key, std::string_view value) {
    if (!CanStore(section, key, value))
        return false;  // refused: the file is left alone
    SetEntry(section, key, value);
    return Save();
}

std::string ProfileFile::Serialize() const {
    std::string out;
    if (m_entries.empty())
        return out;
    auto writeHeader = [&out](const std::string& section) {
        if (section == kLeadingSection)
            return;
        out += '[';
        out += section;
        out += "]\n";
    };
    const std::string* current = &m_entries.front().section;
    writeHeader(*current);
    for (const ProfileEntry& entry : m_entries) {
        if (entry.section != *current) {
            current = &entry.section;
            writeHeader(*current);
        }
        if (entry.key != kPlainKey) {
            out += entry.key;
            out += '=';
        }
        out += entry.value;
        out += '\n';
    }
    return out;
}

bool ProfileFile::Save(ProfileAccess access) const {
    const std::string target = ResolveTarget(m_path);
    struct stat oldInfo;
    const bool exists = ::stat(target.c_str(), &oldInfo) == 0;
    if (exists) {
        // A read-only file stays as it is, as a truncating open would have
        // failed on it; anything but a regular file is never replaced.
        if (!S_ISREG(oldInfo.st_mode) || ::access(target.c_str(), W_OK) != 0)
            return false;
    } else if (errno != ENOENT) {
        return false;
    }

    const bool ownerOnly = access == ProfileAccess::OwnerOnly;
    std::string tempPath;
    FileDescriptor temp(CreateTemporaryBeside(target, ownerOnly ? 0600 : 0666, tempPath));
    if (temp.Get() < 0)
        return false;
    bool ok = true;
    if (ownerOnly) {
        ok = ::fchmod(temp.Get(), 0600) == 0;  // a umask may have taken the owner's bits
    } else if (exists) {
        ok = ::fchmod(temp.Get(), oldInfo.st_mode & 07777) == 0;
    }
    // Keeps the owner when an administrator edits a user's file; an ordinary
    // user cannot give a file away, and that is fine.
    if (ok && exists)
        (void)!::fchown(temp.Get(), oldInfo.st_uid, oldInfo.st_gid);
    ok = ok && WriteAll(temp.Get(), Serialize());
    ok = ok && ::fsync(temp.Get()) == 0;
    ok = temp.Close() && ok;
    ok = ok && ::rename(tempPath.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tempPath.c_str());
        return false;
    }
    SyncDirectory(DirectoryOf(target));
    return true;
}

}  // namespace kavrel
