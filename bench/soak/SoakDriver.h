#pragma once
// Drives the real main window for a soak run: presses Play, presses the next
// channel's button at a fixed interval, presses Play again whenever the
// session has ended by itself (a failed reconnect leaves the idle face), and
// samples the process and the video pipeline every second.
//
// The session's own restarts are counted from the status line: a
// "connect_break" that the driver did not cause is a restart by the video
// watchdog, unless the next text is "connect_timeout" (the login time-out
// stopping a login that got no answer).
//
// Thread: the user-interface thread only (timers and the window's signals).

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "bench/soak/ProcessSampler.h"

namespace kavrel {
class COrvaneDlg;
}

namespace kavrel::soak {

struct SoakOptions {
    std::chrono::seconds duration{600};
    std::chrono::seconds channelEvery{20};  // 0: no channel changes
    int channels = 4;                       // channel buttons 1..channels are cycled
    std::chrono::seconds settle{60};        // warm-up before memory must stay flat
    std::FILE* samples = nullptr;           // one CSV line per second when set
};

struct SessionCounts {
    int channelChanges = 0;
    int watchdogRestarts = 0;
    int loginTimeouts = 0;
    int connectFailures = 0;
    int playPressedAgain = 0;  // the session had ended by itself
};

class SoakDriver : public QObject {
    Q_OBJECT

  public:
    // `window` is initialised and outlives the driver.
    SoakDriver(COrvaneDlg& window, SoakOptions options);

    // Presses Play and starts the timers; `finished` comes after the duration.
    void Start();
    // Writes the summary (memory, CPU, frames, session) to `out`. True when
    // pictures were decoded.
    bool PrintSummary(std::FILE* out) const;

  signals:
    void finished();

  private:
    void OnStatus(const QString& text);
    void OnSampleTick();
    void OnChannelTick();
    void PressCommand(int id);

    COrvaneDlg& m_window;
    const SoakOptions m_options;
    ProcessSampler m_sampler;
    QTimer m_sampleTimer;
    QTimer m_channelTimer;
    QTimer m_endTimer;

    SessionCounts m_counts;
    bool m_inOwnCommand = false;  // statuses now come from the driver's own press
    bool m_breakPending = false;  // an unexplained "connect_break" awaits the next text
    QString m_breakText, m_timeoutText, m_failedText;
    int m_nextChannel = 1;  // 0-based index of the next channel button
};

}  // namespace kavrel::soak
