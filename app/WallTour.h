#pragma once
// The tour: a wall left to itself walks through the views the user saved
// (slots 1 to 9, in order, round and round), one every interval, so a
// monitor in a guard room shows every camera without anybody at the keys.
// With no view saved it turns the channel pages instead.
//
// The tour only decides what comes next and when; the main window does the
// showing (showView: recall that slot; nextPage: what Page Down does) and
// shows the state on the status line (stateChanged, TourStatusText).
//
// Anything the user does (a key, a click, the wheel) is more important than
// the tour: UserActed() pauses it, and it goes on by itself when the user has
// left it alone for the pause length (a minute), with a whole interval
// before its next step. Every further action while paused starts that minute
// again.
//
// Thread: the user-interface thread (its timers fire there, and the signals
// are emitted from them, directly).

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <string_view>
#include <vector>

namespace kavrel {

class WallTour : public QObject {
    Q_OBJECT

  public:
    enum class State { Stopped, Running, Paused };
    Q_ENUM(State)

    static constexpr std::chrono::milliseconds kDefaultInterval{10'000};
    static constexpr std::chrono::milliseconds kDefaultPause{60'000};

    explicit WallTour(QObject* parent = nullptr);

    // The slots that hold a saved view (FilledViewSlots()). Slots outside 1
    // to 9 and repeats are dropped; order does not matter. Set again after a
    // save: a new view joins the tour at its place in the order. Empty: the
    // tour turns pages.
    void SetViews(std::vector<int> filled);
    const std::vector<int>& Views() const { return m_views; }

    // The saved view on screen (recalled by hand, or at start by --view), so
    // that the tour goes on with the one after it; 0 when the wall shows no
    // saved view. A step never recalls the view already on screen (with one
    // saved view, that would only reconnect every camera each interval).
    void SetCurrentView(int slot);
    int CurrentView() const { return m_current; }

    // Time between steps; the user's value is kept to 3 to 3600 s by the
    // store (settings/WallStore.h). A value of zero or less takes
    // kDefaultInterval. While running, the next step comes one whole new
    // interval from now.
    void SetInterval(std::chrono::milliseconds interval);
    std::chrono::milliseconds Interval() const { return m_interval; }

    // How long UserActed() holds the tour (tests shorten it).
    void SetPauseLength(std::chrono::milliseconds pause);

    // Start: the view on screen stays for one whole interval first. Starting
    // a running or paused tour, or stopping a stopped one, does nothing.
    void Start();
    void Stop();
    bool Running() const { return m_state != State::Stopped; }  // also while paused
    bool Paused() const { return m_state == State::Paused; }
    // Until a paused tour goes on by itself; zero when it is not paused.
    std::chrono::milliseconds PauseRemaining() const;
    State CurrentState() const { return m_state; }

    // A user's key, click or wheel: pauses a running tour, or restarts the
    // pause of a paused one. Nothing while the tour is stopped.
    void UserActed();

  signals:
    // Show the view saved in `slot` (1 to 9).
    void showView(int slot);
    // No view saved: turn to the next page of channels (or tiles).
    void nextPage();
    void stateChanged(kavrel::WallTour::State state);

  private:
    void Step();
    void Resume();
    void SetState(State state);

    std::vector<int> m_views;  // ascending, each 1 to 9
    int m_current = 0;
    std::chrono::milliseconds m_interval = kDefaultInterval;
    std::chrono::milliseconds m_pause = kDefaultPause;
    State m_state = State::Stopped;
    // Precise: a coarse timer may fire up to 5 % early, and a pause that
    // ends before its minute looks like the tour ignoring the user.
    QTimer m_stepTimer;   // repeating, every m_interval, while Running
    QTimer m_pauseTimer;  // single shot, while Paused
};

// The status line's text for a state: "tour_running" with its "%d" replaced
// by the interval in whole seconds, "tour_paused" or "tour_stopped". `text`
// gives a key's localised text (the main window's Text).
QString TourStatusText(WallTour::State state, std::chrono::milliseconds interval,
                       const std::function<QString(std::u16string_view)>& text);

}  // namespace kavrel
