#include "app/ExitSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>

#include "platform/DebugSink.h"

namespace kavrel {
namespace {

constexpr std::array<int, 3> kEndSignals = {SIGTERM, SIGINT, SIGHUP};

// The pipe's ends while an ExitSignals exists; -1 otherwise. Only the
// handler reads them outside the user-interface thread.
volatile sig_atomic_t g_writeEnd = -1;
int g_readEnd = -1;
std::array<struct sigaction, kEndSignals.size()> g_replaced{};

extern "C" void OnEndSignal(int number) {
    const int saved = errno;
    const int end = g_writeEnd;
    if (end >= 0) {
        const unsigned char byte = static_cast<unsigned char>(number);
        // A full pipe already holds a request: this one adds nothing.
        [[maybe_unused]] const ssize_t written = ::write(end, &byte, 1);
    }
    errno = saved;
}

}  // namespace

ExitSignals::ExitSignals(QObject* parent) : QObject(parent) {
    if (g_readEnd >= 0)
        return;  // another one has them
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        DebugOutput("Exit signals: no pipe\n");
        return;
    }
    g_readEnd = ends[0];
    g_writeEnd = ends[1];
    m_notifier = std::make_unique<QSocketNotifier>(g_readEnd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &ExitSignals::OnReadable);
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t k = 0; k < kEndSignals.size(); ++k)
        sigaction(kEndSignals[k], &action, &g_replaced[k]);
    m_installed = true;
}

ExitSignals::~ExitSignals() {
    if (!m_installed)
        return;
    for (size_t k = 0; k < kEndSignals.size(); ++k)
        sigaction(kEndSignals[k], &g_replaced[k], nullptr);
    m_notifier.reset();
    const int writeEnd = g_writeEnd;
    g_writeEnd = -1;
    ::close(writeEnd);
    ::close(g_readEnd);
    g_readEnd = -1;
}

void ExitSignals::OnReadable() {
    unsigned char bytes[16];
    const ssize_t count = ::read(g_readEnd, bytes, sizeof bytes);
    for (ssize_t k = 0; k < count; ++k)
        emit requested(int(bytes[k]));
}

}  // namespace kavrel
