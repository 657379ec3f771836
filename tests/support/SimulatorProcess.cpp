#include "tests/support/SimulatorProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;
#include "tests/support/ChildExit.h"

namespace kavrel::test {
namespace {

constexpr std::string_view kListeningPrefix = "kavrel-sim listening on ";

// The port of "kavrel-sim listening on 127.0.0.1:40321", 0 for any other line.
uint16_t PortOfListeningLine(const std::string& line) {
    if (line.rfind(kListeningPrefix, 0) != 0)
        return 0;
    const size_t colon = line.rfind(':');
    if (colon == std::string::npos)
        return 0;
    const long port = std::strtol(line.c_str() + colon + 1, nullptr, 10);
    return (port > 0 && port <= 65535) ? uint16_t(port) : 0;
}

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

}  // namespace

SimulatorProcess::~SimulatorProcess() {
    Stop();
}

std::string SimulatorProcess::ExecutablePath() {
    const char* dir = std::getenv("KAVREL_BINARY_DIR");
    if (dir == nullptr || *dir == '\0')
        return {};
    return std::string(dir) + "/tools/kavrel-sim";
}

void SimulatorProcess::AddNote(const std::string& note) {
    std::fprintf(stderr, "[kavrel-sim] (test) %s\n", note.c_str());
    std::lock_guard lock(m_mutex);
    m_notes.push_back(note);
}

bool SimulatorProcess::Start(const std::vector<std::string>& args,
                             std::chrono::milliseconds deadline, uint16_t port) {
    if (m_pid >= 0 || m_exitStatus >= 0) {
        AddNote("Start called twice");
        return false;
    }
    const std::string path = ExecutablePath();
    if (path.empty() || ::access(path.c_str(), X_OK) != 0) {
        AddNote("no executable at '" + path + "' (is KAVREL_BINARY_DIR set and kavrel-sim built?)");
        return false;
    }

    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        AddNote(std::string("pipe: ") + std::strerror(errno));
        for (int& fd : outPipe)
            CloseFd(fd);
        for (int& fd : errPipe)
            CloseFd(fd);
        return false;
    }

    std::vector<std::string> argvText;
    argvText.push_back(path);
    argvText.insert(argvText.end(), args.begin(), args.end());
    for (const std::string& extra : {std::string("--address"), std::string("127.0.0.1"),
                                     std::string("--port"), std::to_string(port)})
        argvText.push_back(extra);
    std::vector<char*> argv;
    for (std::string& a : argvText)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    pid_t pid = -1;
    const int spawnError =
        ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    CloseFd(outPipe[1]);
    CloseFd(errPipe[1]);
    if (spawnError != 0) {
        AddNote(std::string("posix_spawn: ") + std::strerror(spawnError));
        CloseFd(outPipe[0]);
        CloseFd(errPipe[0]);
        return false;
    }
    m_pid = pid;
    m_reader = std::thread(&SimulatorProcess::ReadLoop, this, outPipe[0], errPipe[0]);

    std::unique_lock lock(m_mutex);
    const bool ready =
        m_changed.wait_for(lock, deadline, [this] { return m_port != 0 || EndedLocked(); });
    if (m_port != 0)
        return true;
    lock.unlock();
    AddNote(ready ? "kavrel-sim ended before listening" : "kavrel-sim did not listen in time");
    return false;
}

uint16_t SimulatorProcess::Port() const {
    std::lock_guard lock(m_mutex);
    return m_port;
}

std::vector<std::string> SimulatorProcess::LogLines() const {
    std::lock_guard lock(m_mutex);
    return m_errLines;
}

std::string SimulatorProcess::Log() const {
    std::lock_guard lock(m_mutex);
    std::string text;
    for (const std::string& note : m_notes)
        text += "(test) " + note + "\n";
    for (const std::string& line : m_errLines)
        text += line + "\n";
    return text;
}

int SimulatorProcess::CountLocked(std::string_view fragment) const {
    return int(std::count_if(m_errLines.begin(), m_errLines.end(), [&](const std::string& line) {
        return line.find(fragment) != std::string::npos;
    }));
}

int SimulatorProcess::CountLog(std::string_view fragment) const {
    std::lock_guard lock(m_mutex);
    return CountLocked(fragment);
}

testing::AssertionResult SimulatorProcess::WaitForLog(std::string_view fragment, int count,
                                                      Lines match,
                                                      std::chrono::milliseconds deadline) {
    int seen = 0;
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        // In slices when events must be pumped meanwhile, in one wait otherwise.
        const auto sliceEnd =
            m_pump ? std::min(end, std::chrono::steady_clock::now() + std::chrono::milliseconds(5))
                   : end;
        std::unique_lock lock(m_mutex);
        const bool done = m_changed.wait_until(
            lock, sliceEnd, [&] { return CountLocked(fragment) >= count || m_errEof; });
        seen = CountLocked(fragment);
        lock.unlock();
        if (done || std::chrono::steady_clock::now() >= end)
            break;
        m_pump();
    }
    if (seen == count || (seen > count && match == Lines::AtLeast))
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << seen << " log lines contain '" << fragment << "', "
           << (match == Lines::Exactly ? "expected exactly " : "expected at least ") << count
           << "\n"
           << Log();
}

int SimulatorProcess::Stop(std::chrono::milliseconds deadline) {
    if (m_pid < 0)
        return m_exitStatus;
    ::kill(m_pid, SIGTERM);
    bool ended = false;
    {
        std::unique_lock lock(m_mutex);
        ended = m_changed.wait_for(lock, deadline, [this] { return EndedLocked(); });
    }
    if (!ended) {
        AddNote("kavrel-sim did not exit after SIGTERM; killing it");
        ::kill(m_pid, SIGKILL);
    }
    m_exitStatus = WaitForChildExit(m_pid);
    m_pid = -1;
    if (m_reader.joinable())
        m_reader.join();
    return m_exitStatus;
}

void SimulatorProcess::ReadLoop(int outFd, int errFd) {
    std::string partial[2];
    int fds[2] = {outFd, errFd};
    char buffer[4096];
    while (fds[0] >= 0 || fds[1] >= 0) {
        pollfd polls[2];
        for (int i = 0; i < 2; ++i)
            polls[i] = {fds[i], POLLIN, 0};  // negative fds are skipped
        if (::poll(polls, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i] < 0 || polls[i].revents == 0)
                continue;
            const ssize_t n = ::read(fds[i], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            std::vector<std::string> lines;
            if (n > 0) {
                partial[i].append(buffer, size_t(n));
                size_t end;
                while ((end = partial[i].find('\n')) != std::string::npos) {
                    lines.push_back(partial[i].substr(0, end));
                    partial[i].erase(0, end + 1);
                }
            } else {
                if (!partial[i].empty())
                    lines.push_back(std::move(partial[i]));
                CloseFd(fds[i]);
            }
            if (i == 1) {
                for (const std::string& line : lines)
                    std::fprintf(stderr, "[kavrel-sim] %s\n", line.c_str());
            }
            std::lock_guard lock(m_mutex);
            for (std::string& line : lines) {
                if (i == 0) {
                    if (m_port == 0)
                        m_port = PortOfListeningLine(line);
                    m_outLines.push_back(std::move(line));
                } else {
                    m_errLines.push_back(std::move(line));
                }
            }
            if (fds[i] < 0)
                (i == 0 ? m_outEof : m_errEof) = true;
            m_changed.notify_all();
        }
    }
    for (int& fd : fds)
        CloseFd(fd);
    std::lock_guard lock(m_mutex);
    m_outEof = m_errEof = true;
    m_changed.notify_all();
}

}  // namespace kavrel::test
