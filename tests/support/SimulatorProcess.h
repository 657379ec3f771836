#pragma once
// Runs the simulated camera server (kavrel-sim) as a child process for a test.
//
// Start() launches ${KAVREL_BINARY_DIR}/tools/kavrel-sim on 127.0.0.1 with a
// free port (--port 0) and the test's own options, and waits with a deadline
// for its "kavrel-sim listening on ADDRESS:PORT" line. Its stderr (one line per
// event, and the summary at exit) is collected so that tests can wait for a
// log line, and echoed to the test's stderr with a "[kavrel-sim] " prefix so a
// failing test shows what the server saw. The destructor stops the process:
// SIGTERM, a bounded wait for its clean exit, then SIGKILL.
//
// One object runs one process once. All members may be called from any thread;
// the object must outlive every call.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kavrel::test {

class SimulatorProcess {
  public:
    // `pump` (may be empty) runs every few milliseconds while WaitForLog
    // waits: a test whose viewer acts on its own thread's event loop passes
    // one that processes the events, so that the viewer can act meanwhile.
    explicit SimulatorProcess(std::function<void()> pump = {}) : m_pump(std::move(pump)) {}
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Starts the simulator with `args` followed by "--address 127.0.0.1 --port
    // P" (a later option wins, so pass neither), P being `port`, 0 for a free
    // one. True once it listens; false when the program is missing, exits
    // first (bad options) or is not listening within `deadline`: Log() then
    // says why.
    bool Start(const std::vector<std::string>& args = {},
               std::chrono::milliseconds deadline = std::chrono::seconds(30), uint16_t port = 0);

    // The loopback port it listens on; 0 before a successful Start().
    uint16_t Port() const;

    // Every stderr line so far (without the line end), and all stderr as one text.
    std::vector<std::string> LogLines() const;
    std::string Log() const;
    // Number of stderr lines that contain `fragment` at this moment. The
    // reader thread may not have read what the process has already written:
    // compare counts through WaitForLog, never through a single read.
    int CountLog(std::string_view fragment) const;

    enum class Lines { AtLeast, Exactly };
    // Waits until `count` stderr lines contain `fragment`: success once they
    // do (with Lines::Exactly, only when no more than `count` do at that
    // moment), failure at the deadline or when the process has ended without
    // writing them. A failure names the count and carries the whole log.
    testing::AssertionResult WaitForLog(
        std::string_view fragment, int count = 1, Lines match = Lines::AtLeast,
        std::chrono::milliseconds deadline = std::chrono::seconds(20));

    // Asks the simulator to end (SIGTERM), waits up to `deadline` for it to exit
    // (it prints its summary first), then kills it. Returns its exit code, or
    // 128 + the signal number when a signal ended it; -1 when it never started.
    // Later calls return the same value.
    int Stop(std::chrono::milliseconds deadline = std::chrono::seconds(30));

    // ${KAVREL_BINARY_DIR}/tools/kavrel-sim; empty when the variable is unset.
    static std::string ExecutablePath();

  private:
    void ReadLoop(int outFd, int errFd);  // reader thread
    bool EndedLocked() const { return m_outEof && m_errEof; }
    int CountLocked(std::string_view fragment) const;
    void AddNote(const std::string& note);

    const std::function<void()> m_pump;

    // Owned by the thread that calls Start()/Stop() (the test's own thread).
    pid_t m_pid = -1;
    int m_exitStatus = -1;
    std::thread m_reader;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;    // signalled on each new line and at end of output
    std::vector<std::string> m_outLines;  // guarded by m_mutex
    std::vector<std::string> m_errLines;  // guarded by m_mutex
    std::vector<std::string> m_notes;     // guarded by m_mutex: this class's own remarks
    uint16_t m_port = 0;                  // guarded by m_mutex
    bool m_outEof = false;                // guarded by m_mutex
    bool m_errEof = false;                // guarded by m_mutex
};

}  // namespace kavrel::test
