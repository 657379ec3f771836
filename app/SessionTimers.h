#pragma once
// The main window's three session timers, keyed by the handheld's timer ids.
//
// Each is a single-shot QTimer: Arm starts it, and arming an armed timer
// restarts it with its full interval; Cancel stops it. On expiry the handler
// runs with the timer's id. The product's intervals are 400 ms (1000, PTZ
// auto-stop and status restore), 10000 ms (2000, login time-out) and 5000 ms
// (4000, video watchdog); tests shorten them.
//
// Thread: the user-interface thread only (the thread that made the object).

#include <QTimer>
#include <array>
#include <chrono>
#include <functional>

namespace kavrel {

class SessionTimers {
  public:
    static constexpr int kPtzStop = 1000;
    static constexpr int kLoginTimeout = 2000;
    static constexpr int kVideoWatchdog = 4000;

    static constexpr std::chrono::milliseconds kPtzStopInterval{400};
    static constexpr std::chrono::milliseconds kLoginTimeoutInterval{10000};
    static constexpr std::chrono::milliseconds kVideoWatchdogInterval{5000};

    using Handler = std::function<void(int id)>;

    SessionTimers();
    SessionTimers(const SessionTimers&) = delete;
    SessionTimers& operator=(const SessionTimers&) = delete;

    // Called on expiry, after the timer has stopped.
    void SetHandler(Handler handler) { m_handler = std::move(handler); }

    // The interval of the next Arm; ids other than the three are ignored.
    void SetInterval(int id, std::chrono::milliseconds interval);
    std::chrono::milliseconds Interval(int id) const;

    // Unknown ids do nothing (and are never armed).
    void Arm(int id);
    // Once for `interval` instead (the rest of a watch); Interval stays.
    void ArmFor(int id, std::chrono::milliseconds interval);
    void Cancel(int id);
    bool IsArmed(int id) const;
    void CancelAll();

  private:
    struct Entry {
        int id = 0;
        std::chrono::milliseconds interval{0};
        QTimer timer;
    };
    Entry* Find(int id);
    const Entry* Find(int id) const;

    std::array<Entry, 3> m_entries;
    Handler m_handler;
};

}  // namespace kavrel
