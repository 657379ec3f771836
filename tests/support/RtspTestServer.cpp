#include "tests/support/RtspTestServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/support/TestPaths.h"

extern char** environ;
#include "tests/support/ChildExit.h"

namespace kavrel::test {
namespace {

using Clock = std::chrono::steady_clock;

// Whether `line` is `words` or begins with them and a space: "playing /h265"
// is not "playing /h265-d1".
bool BeginsWith(const std::string& line, std::string_view words) {
    return line.compare(0, words.size(), words) == 0 &&
           (line.size() == words.size() || line[words.size()] == ' ');
}

}  // namespace

RtspTestServer::~RtspTestServer() {
    Stop();
}

std::string RtspTestServer::ScriptPath() {
    return SourceDir() + "/tools/rtsp/rtsp_server.py";
}

std::string RtspTestServer::ClipsDir() {
    return BinaryDir() + "/tools/rtsp/clips";
}

bool RtspTestServer::Start(const RtspServerOptions& options, std::chrono::milliseconds deadline) {
    if (m_pid >= 0 || m_exitStatus >= 0) {
        m_notes.push_back("Start called twice");
        return false;
    }
    const std::string script = ScriptPath();
    const std::string clips = ClipsDir();
    if (::access(script.c_str(), X_OK) != 0 ||
        ::access((clips + "/h264.h264").c_str(), R_OK) != 0) {
        m_notes.push_back("no " + script + " or no clips in " + clips +
                          " (is the target kavrel_rtsp_clips built?)");
        return false;
    }
    // One socket for both directions: writes to it cannot raise SIGPIPE
    // (MSG_NOSIGNAL) when the server has ended.
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        m_notes.push_back(std::string("socketpair: ") + std::strerror(errno));
        return false;
    }
    std::vector<std::string> argvText = {script, "--port", "0", "--clips", clips};
    if (!options.user.empty()) {
        for (const std::string& extra :
             {std::string("--user"), options.user, std::string("--password"), options.password,
              std::string("--auth"), std::string(options.digest ? "digest" : "basic")})
            argvText.push_back(extra);
    }
    std::vector<char*> argv;
    for (std::string& a : argvText)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
    posix_spawn_file_actions_adddup2(&actions, pair[1], 1);
    pid_t pid = -1;
    const int spawnError =
        ::posix_spawn(&pid, script.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pair[1]);
    m_control = pair[0];
    if (spawnError != 0) {
        m_notes.push_back(std::string("posix_spawn: ") + std::strerror(spawnError));
        return false;
    }
    m_pid = pid;
    if (!WaitForLines("ready", 1, deadline)) {
        m_notes.push_back("the server was not ready in time");
        return false;
    }
    const auto ready = std::find_if(m_lines.begin(), m_lines.end(), [](const std::string& line) {
        return BeginsWith(line, "ready");
    });
    const long port = std::strtol(ready->c_str() + 6, nullptr, 10);
    m_port = (port > 0 && port <= 65535) ? uint16_t(port) : 0;
    return m_port != 0;
}

std::string RtspTestServer::Url(std::string_view mount) const {
    return "rtsp://127.0.0.1:" + std::to_string(m_port) + std::string(mount);
}

std::string RtspTestServer::Url(std::string_view mount, std::string_view user,
                                std::string_view password) const {
    return "rtsp://" + std::string(user) + ":" + std::string(password) +
           "@127.0.0.1:" + std::to_string(m_port) + std::string(mount);
}

testing::AssertionResult RtspTestServer::GoAway(std::chrono::milliseconds away) {
    if (away.count() <= 0)
        return Command("away", "away");
    // Whole numbers only: a formatted double would take the locale's decimal point.
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%lld.%03lld",
                  static_cast<long long>(away.count() / 1000),
                  static_cast<long long>(away.count() % 1000));
    return Command(std::string("away ") + seconds, "away");
}

testing::AssertionResult RtspTestServer::ComeBack() {
    return Command("back", "back");
}

testing::AssertionResult RtspTestServer::WaitBack(std::chrono::milliseconds deadline) {
    return WaitForLines("back", CountLines("away"), deadline);
}

testing::AssertionResult RtspTestServer::StopSending() {
    return Command("stop", "stopped");
}

testing::AssertionResult RtspTestServer::ResumeSending() {
    return Command("resume", "sending");
}

std::string RtspTestServer::Log() const {
    std::string text;
    for (const std::string& note : m_notes)
        text += "(test) " + note + "\n";
    for (const std::string& line : m_lines)
        text += line + "\n";
    return text;
}

testing::AssertionResult RtspTestServer::Command(std::string_view command,
                                                 std::string_view answer) {
    const int before = CountLines(answer);
    const std::string line = std::string(command) + "\n";
    if (m_pid < 0 ||
        ::send(m_control, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size()))
        return testing::AssertionFailure() << "could not send '" << command << "'\n" << Log();
    return WaitForLines(answer, before + 1, std::chrono::seconds(30));
}

int RtspTestServer::CountLines(std::string_view words) const {
    return int(std::count_if(m_lines.begin(), m_lines.end(),
                             [&](const std::string& line) { return BeginsWith(line, words); }));
}

testing::AssertionResult RtspTestServer::WaitForLines(std::string_view words, int count,
                                                      std::chrono::milliseconds deadline) {
    const auto end = Clock::now() + deadline;
    while (CountLines(words) < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0 || !ReadSome(left))
            return testing::AssertionFailure()
                   << "expected " << count << " lines beginning '" << words << "'\n"
                   << Log();
    }
    return testing::AssertionSuccess();
}

// Reads what the server has written, waiting up to `deadline` for it. False
// at the deadline or once it has ended.
bool RtspTestServer::ReadSome(std::chrono::milliseconds deadline) {
    if (m_control < 0)
        return false;
    pollfd poll{m_control, POLLIN, 0};
    const int ready = ::poll(&poll, 1, int(std::min<int64_t>(deadline.count(), INT32_MAX)));
    if (ready < 0 && errno == EINTR)
        return true;
    if (ready <= 0)
        return false;
    char buffer[4096];
    const ssize_t n = ::read(m_control, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
        return true;
    if (n <= 0)
        return false;
    m_partial.append(buffer, size_t(n));
    size_t end;
    while ((end = m_partial.find('\n')) != std::string::npos) {
        m_lines.push_back(m_partial.substr(0, end));
        m_partial.erase(0, end + 1);
    }
    return true;
}

int RtspTestServer::Stop(std::chrono::milliseconds deadline) {
    if (m_pid < 0) {
        if (m_control >= 0)
            ::close(m_control);
        m_control = -1;
        return m_exitStatus;
    }
    ::kill(m_pid, SIGTERM);
    // Its end of the socket closes as it exits.
    const auto end = Clock::now() + deadline;
    bool ended = false;
    while (!ended) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0)
            break;
        ended = !ReadSome(left) && Clock::now() < end;
    }
    if (!ended) {
        m_notes.push_back("the server did not end after SIGTERM; killing it");
        ::kill(m_pid, SIGKILL);
    }
    m_exitStatus = WaitForChildExit(m_pid);
    m_pid = -1;
    ::close(m_control);
    m_control = -1;
    return m_exitStatus;
}

}  // namespace kavrel::test
