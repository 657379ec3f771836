#pragma once
// Small file helpers for the config and settings tests.

#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace kavrel::test {

// A fresh folder per test, removed afterwards.
class TempFolder {
  public:
    TempFolder() { ::chmod(Path().c_str(), 0755); }  // reachable after dropping privileges
    std::string Path() const { return m_dir.path().toStdString(); }
    std::string File(const std::string& name) const { return Path() + "/" + name; }
    bool IsValid() const { return m_dir.isValid(); }

  private:
    QTemporaryDir m_dir;
};

inline void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline bool FileExists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

inline unsigned FileMode(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0u;
}

// Sets (or, with nullptr, removes) an environment variable while it lives.
class ScopedEnvironmentVariable {
  public:
    ScopedEnvironmentVariable(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_previous = old;
        Apply(value);
    }
    ~ScopedEnvironmentVariable() { Apply(m_previous ? m_previous->c_str() : nullptr); }
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

  private:
    void Apply(const char* value) {
        if (value)
            ::setenv(m_name.c_str(), value, 1);
        else
            ::unsetenv(m_name.c_str());
    }
    std::string m_name;
    std::optional<std::string> m_previous;
};

// Makes file permissions count while it lives: a root test process acts as
// "nobody" (the saved set-user-ID lets it return). No-op for other users.
class ScopedUnprivileged {
  public:
    ScopedUnprivileged() : m_wasRoot(::geteuid() == 0) {
        if (m_wasRoot && ::seteuid(kNobody) != 0)
            m_wasRoot = false;
    }
    ~ScopedUnprivileged() {
        if (m_wasRoot)
            (void)!::seteuid(0);
    }
    ScopedUnprivileged(const ScopedUnprivileged&) = delete;
    ScopedUnprivileged& operator=(const ScopedUnprivileged&) = delete;
    // True when permissions now apply to this process.
    bool Active() const { return ::geteuid() != 0; }

  private:
    static constexpr uid_t kNobody = 65534;
    bool m_wasRoot;
};

}  // namespace kavrel::test
